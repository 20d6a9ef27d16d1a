// The status line: one line at the bottom of standard error that shows how
// far an extraction, a test or a copy to standard output has come (the
// share of the bytes, the bytes done and in all, the rate and the time
// left). On a terminal it is redrawn in place at most 10 times a second and
// taken away before any other line is printed; elsewhere it is a plain line
// every second. Off unless started: then every call here costs one test of
// a flag.
#pragma once

#include "../../extract/piece_copy.h"

#include <cstdint>

// True while the line is on; callers test it before they do anything for it.
extern bool status_on;

// Turns the line on for a run of `total` bytes, the chosen entries' sizes
// from the index. `terminal`: standard error is a terminal.
void RBD_StartStatus(uint64_t total, bool terminal);

// `bytes` more were done, within the entry in hand.
void RBD_AdvanceStatus(uint64_t bytes);

// How a copy is to be cut while the line is on, so that it moves within a
// large entry too: pieces that advance it; one piece when it is off.
RBDPieces RBD_StatusPieces();

// An entry of `size` bytes is over, whatever became of it: the bytes of it
// that RBD_AdvanceStatus has not counted yet are counted.
void RBD_EntryDoneForStatus(uint64_t size);

// Takes the line away before another line is printed on standard error;
// nothing when it is not shown.
void RBD_ClearStatus();

// The same before a line on standard output, which shares the terminal.
void RBD_ClearStatusForStdout();

// Takes the line away for good at the end of the run.
void RBD_EndStatus();

// The same from a signal handler: async-signal-safe.
void RBD_ClearStatusFromHandler();
