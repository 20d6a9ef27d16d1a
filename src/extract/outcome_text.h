// The words for what extraction made of an entry, once for everything that
// tells it: the command line's classic run and option mode, the library's
// kr_error messages, and the mount's warnings. Each gives the phrase of one
// warning, without "WARNING: " before it or "!" after it: "Refusing unsafe
// path, "data/.."". Names are put in as the package has them; escaping them
// for a terminal is the caller's, done on the whole phrase (its own words
// hold no control character and no backslash, so that escaping the phrase
// escapes the names and nothing else).
#pragma once

#include "engine.h"

#include <cstddef>
#include <cstdint>

// Which words.
enum RBDWording {
    // The classic run's, as they always were: some name the group path or
    // the output path "./NAME/<group path><name>", and none gives a reason.
    RBD_WORDING_CLASSIC,
    // Option mode's and the library's: the entry named by its path below the
    // output root, and the system's reason where the system refused.
    RBD_WORDING_FULL,
};

// The entry that an outcome is about.
struct RBDOutcomeSubject {
    const char *root_name; // the output root's name, for the classic run's output path
    // Its group path, "data/snd/": as the package spells it for the classic
    // run's words, below the output root (no empty names) for the others.
    const char *group;
    const char *name; // its own name
    uint64_t budget;  // RBD_ENTRY_OVER_BUDGET: the budget it would pass
};

// Enough for any phrase: two paths of RBD_MAX_PATH, the words and a reason.
const size_t RBD_OUTCOME_TEXT = 1024;

// Puts in `text` (`size` bytes) the phrase for `result`'s outcome; false,
// with `text` empty, for an entry written or kept, which has none. The
// missing data that `result` may also note has a phrase of its own.
bool RBD_WordOutcome(RBDWording wording, const RBDEntryResult &result,
                     const RBDOutcomeSubject &entry, char *text, size_t size);

// The phrase for an entry whose data is not in the package.
void RBD_WordDataMissing(RBDWording wording, const RBDOutcomeSubject &entry, char *text,
                         size_t size);
