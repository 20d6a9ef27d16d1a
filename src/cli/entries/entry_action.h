// The one place that decides what is done with each entry that the walk of
// the index meets: written out, listed, checked, copied to standard output,
// or nothing at all, as the run's mode says. The loader's walk, its order of
// reading and its messages are the same in every mode.
#pragma once

#include "../../package/walk.h"
#include "../run_state.h"

// Called by the loader once the header was read, before the first entry:
// prepares the mode's work on the run's package (open), and starts the
// status line when the run shows one.
void RBD_StartEntries(RBDRun &run);

// Called by the loader for every ENTRY event of the walk, in index order.
// What names the entry to the user is its path under the output root (the
// normal group path and its name), but for the classic run's lines, which
// show the group path as the package spells it.
void RBD_HandleEntry(RBDRun &run, const RBDWalkEvent &event);

// Called when the load ends, however: closes and gives back what the
// entries' work keeps between entries.
void RBD_EndEntries(RBDRun &run);
