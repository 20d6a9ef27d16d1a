// What this run does with each entry and how it reports, shared by the
// driver, the loader and the entry writer.
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
};

struct RBDRunMode {
    RBDEntryAction action;
    bool quiet;         // no "Writing" lines
    bool hide_progress; // no "Writing", "Reached end of package indices." or "Done!"
};

extern RBDRunMode run_mode;
