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

// The line of one run (RBDStreams::status).
struct RBDStatusLine {
    bool on;              // started and not ended; callers test it first
    bool terminal;        // redrawn in place on a terminal
    bool stdout_terminal; // standard output shows on the terminal too
    bool shown;           // drawn and not taken away since
    uint64_t total;
    uint64_t done;
    uint64_t entry_done; // of `done`, what belongs to the entry in hand
    uint64_t moving;     // with workers: what the entries in hand have copied
    long long start_ms;
    long long drawn_ms; // when it was last drawn (or started)
};

// Turns the line on for a run of `total` bytes, the chosen entries' sizes
// from the index. `terminal`: standard error is a terminal.
void RBD_StartStatus(RBDStatusLine &status, uint64_t total, bool terminal);

// `bytes` more were done, within the entry in hand.
void RBD_AdvanceStatus(RBDStatusLine &status, uint64_t bytes);

// How a copy is to be cut while the line is on, so that it moves within a
// large entry too: pieces that advance it; one piece when it is off.
RBDPieces RBD_StatusPieces(RBDStatusLine &status);

// With workers: the entries in hand, not counted in `done`, have copied
// `bytes` so far.
void RBD_ShowMoving(RBDStatusLine &status, uint64_t bytes);

// An entry of `size` bytes is over, whatever became of it: the bytes of it
// that RBD_AdvanceStatus has not counted yet are counted.
void RBD_EntryDoneForStatus(RBDStatusLine &status, uint64_t size);

// Takes the line away before another line is printed on standard error;
// nothing when it is not shown.
void RBD_ClearStatus(RBDStatusLine &status);

// The same before a line on standard output, which shares the terminal.
void RBD_ClearStatusForStdout(RBDStatusLine &status);

// Takes the line away for good at the end of the run.
void RBD_EndStatus(RBDStatusLine &status);

// The same from a signal handler: async-signal-safe. A handler can reach no
// run's record, so this looks only at a flag of the process that
// RBD_StartStatus and RBD_EndStatus keep: whether a line is on a terminal.
void RBD_ClearStatusFromHandler();
