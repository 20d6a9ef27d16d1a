// Ctrl-C and its kin during an extraction: the entry being written is
// removed, so that no cut file is left under an entry's name, and the run
// ends by the same signal, as its caller expects. POSIX systems only.
#pragma once

#include "../extract/engine.h"
#include "../extract/worker_pool.h"

#include <atomic>
#include <shared_mutex>
#include <thread>
#ifndef _WIN32
#include <csignal>
#endif

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

// With several workers (worker_pool.h) no thread may be ended midway by a
// handler: SIGINT, SIGTERM and SIGHUP are held off in every thread, and one
// thread of their own waits for them. When one comes, it shuts the gate
// that workers pass to create or close a file, so that every file of the
// run is either finished or marked, removes the marked ones, each by its
// own directory handle, takes the status line away and ends the process by
// that signal. Entries finished ahead of the lines printed may stay. On
// Windows nothing is held or watched: Ctrl-C ends the run as it does with
// one worker.
struct RBDSignalWatch {
    std::shared_mutex gate; // shared while a worker creates or closes a file
    // Set before the gate is shut: no worker comes in any more, so that the
    // shutting waits only for those inside.
    std::atomic<bool> closing;
    std::thread thread;
    bool held;
    std::atomic<bool> ending;
    const RBDParallel *parallel;
#ifndef _WIN32
    sigset_t watched;  // the handled signals the run was not started ignoring
    sigset_t previous; // the calling thread's mask before RBD_HoldSignals
#endif
};

// Holds the signals off in the calling thread, and in every thread it
// makes from now on. Called before the workers are made.
void RBD_HoldSignals(RBDSignalWatch &watch);

// Starts the thread that waits for the held signals, to clean up after the
// workers of `parallel` and the caller's own record. False when it could
// not be made: the caller ends its workers and lets the signals go
// (RBD_StopWatching).
bool RBD_WatchSignals(RBDSignalWatch &watch, const RBDParallel &parallel);

// Ends the watching thread, once the workers have ended, and lets the
// signals reach the calling thread again: one that came meanwhile ends the
// run as it would have. Does nothing unless the signals are held.
void RBD_StopWatching(RBDSignalWatch &watch);

// The engine's guard with several workers (RBDEngineOptions::guard, its
// context the RBDSignalWatch): runs `step` within the gate.
void RBD_PassSignalGate(void *context, void (*step)(void *step_context), void *step_context);
