// Ctrl-C and its kin during an extraction: the entry being written is
// removed, so that no cut file is left under an entry's name, and the run
// ends by the same signal, as its caller expects. POSIX systems only.
#pragma once

// From now on SIGINT, SIGTERM and SIGHUP remove the entry the writer is
// writing (entries finished before stay), take the status line away and end
// the process by that signal. A signal that the run was started ignoring (a
// background job's SIGINT, nohup's SIGHUP) stays ignored.
void RBD_RemoveCutEntryOnSignals();
