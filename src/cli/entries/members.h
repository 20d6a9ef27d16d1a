// The members a run was asked for, and those it was asked to leave out:
// patterns from the command line, matched against each entry's path under
// the output root ("data/snd/a.wav").
#pragma once

#include "../run_state.h"

#include <vector>

// Takes the member patterns (with none, every entry is chosen) and the
// --exclude patterns, which leave out entries that the members chose. A
// leading "./" and trailing slashes are dropped, so "./data/" names the group
// data. The words are kept, not copied: they must live as long as `members`.
void RBD_ChooseMembers(RBDMembers &members, const std::vector<const char *> &patterns,
                       const std::vector<const char *> &excludes);

// True when the entry `filename` of the group path `path` (ending in a slash)
// is chosen: some member pattern matches its path, or the path of one of its
// groups, which takes everything below that group; and no exclude pattern
// matches either. Notes which member patterns matched.
bool RBD_IsChosen(RBDMembers &members, const char *path, const char *filename);

// Prints a warning for each member pattern that matched no entry; one that
// starts with "-" gets a hint that options go before the package.
void RBD_WarnUnmatchedMembers(const RBDMembers &members, RBDStreams &out);
