// What a run does with each entry and how it reports (RBDRun::mode), shared
// by the driver, the loader and the entry writer.
#pragma once

// The action taken for each file record. Zero is extraction, so a run that
// chooses nothing is the classic one.
enum RBDEntryAction {
    RBD_ACTION_EXTRACT = 0,
    RBD_ACTION_LIST,      // one line per entry
    RBD_ACTION_JSON,      // one JSON object per entry
    RBD_ACTION_TEST,      // check what an extraction would meet, write nothing
    RBD_ACTION_TO_STDOUT, // entry bytes to standard output
    RBD_ACTION_INFO,      // nothing per entry; the contents report at the end
    RBD_ACTION_DIFF,      // no walk of its own: two sides compared (diff/diff.h)
};

// Whether and how the status line shows the run's progress on standard
// error.
enum RBDProgress {
    RBD_PROGRESS_NONE = 0,
    RBD_PROGRESS_TERMINAL, // redrawn in place
    RBD_PROGRESS_LINES,    // a plain line every second
};

// All zero: the classic run.
struct RBDRunMode {
    RBDEntryAction action;
    // Option mode: messages go to standard error, and those about an entry
    // or the package say more than the classic run's lines.
    bool options;
    bool quiet;         // no "Writing" or "Keeping" lines
    bool hide_progress; // no "Writing", "Reached end of package indices." or "Done!"
    bool keep_existing; // -k: whatever has an entry's name stays
    bool sha256;        // --sha256: every chosen entry is hashed
    RBDProgress progress;
    // Workers that write the entries (-j, KESTRUN_JOBS, or as many as the
    // process has processors); 0 or 1: one after another, on the run's
    // thread.
    unsigned jobs;
};
