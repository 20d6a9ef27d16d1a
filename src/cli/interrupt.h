// Ctrl-C and its kin during an extraction: the entry being written is
// removed, so that no cut file is left under an entry's name, and the run
// ends by the same signal, as its caller expects. POSIX systems only.
#pragma once

#include "../extract/engine.h"

// From now on SIGINT, SIGTERM and SIGHUP remove the entry being written with
// `extraction` (entries finished before stay), take the status line away and
// end the process by that signal. A signal that the run was started ignoring
// (a background job's SIGINT, nohup's SIGHUP) stays ignored. Called once, by
// the run, before its extraction starts; `extraction` must live until the
// process ends (the run's record does).
void RBD_RemoveCutEntryOnSignals(const RBDExtraction &extraction);

// The engine's guard (RBDEngineOptions::guard): runs `step` with SIGINT,
// SIGTERM and SIGHUP blocked in the calling thread, then restores its mask,
// so that a signal meets the entry's file either not yet made or marked.
// On Windows it simply runs `step`.
void RBD_HoldSignalsAround(void *context, void (*step)(void *step_context), void *step_context);
