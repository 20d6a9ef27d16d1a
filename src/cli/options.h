// The command line of option mode: options first, then the package, then
// member patterns; or, as tar users write it, the package named by -f among
// the options, then member patterns.
#pragma once

#include "run_mode.h"

#include <string>
#include <vector>

// --progress and --no-progress, or neither.
enum RBDProgressChoice { RBD_PROGRESS_AUTO = 0, RBD_PROGRESS_ON, RBD_PROGRESS_OFF };

struct RBDOptions {
    RBDEntryAction action; // extraction unless an option chose another
    bool quiet;
    bool help;
    bool version;
    bool keep_existing; // -k
    bool sha256;        // --sha256
    RBDProgressChoice progress;
    const char *base_dir;    // -C DIR, or null
    const char *output_root; // -d DIR, or null
    const char *package;     // by -f, or the first word after the options; null if none
    const char *diff_other;  // --diff OTHER: the package or directory compared with it
    unsigned jobs;           // -j N: the workers that write or hash; 0 when not given
    std::vector<const char *> patterns;
    std::vector<const char *> excludes;
};

// True when `word` is exactly an option: one of the options, "--", a long
// option that takes a value followed by "=" and the value, or short options
// bundled behind one "-" ("-lq", "-qC"). As the first argument such a word
// starts option mode; any other first argument is a package, as it always
// was ("-v.rbd" is one).
bool RBD_IsOptionWord(const char *word);

// Checks the words after the package, which are member patterns: false,
// with `error` saying so in one sentence, when one of them is an option word,
// since options go before the package.
bool RBD_CheckMemberWords(const std::vector<const char *> &words, std::string &error);

// Reads a number of workers, as -j and KESTRUN_JOBS take it: a whole
// number from 1 up, in decimal. False for anything else.
bool RBD_ParseJobs(const char *text, unsigned &jobs);

// Reads argv[1] onwards. False, with `error` saying what is wrong in one
// sentence, for an unknown option, a missing value, a missing package, two
// packages (-f twice, or -f and a word after "--"), "-f -", an option after
// the package (or after the member patterns that follow -f), or options that
// don't go together. -h and -V
// need no package and take precedence over everything but a word that can't
// be read.
bool RBD_ParseOptions(int argc, char **argv, RBDOptions &options, std::string &error);
