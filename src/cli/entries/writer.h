// Writes the entries of the package that the command line reads, each with
// its "Writing" line (or "Keeping", with -k) and the warnings of whatever
// went wrong; the extraction engine (engine.h) does the writing, with the
// record of `run.destination`.
#pragma once

#include "../run_state.h"

#include <cstdint>

// Makes `dir` the directory that holds the output root, in place of the
// working directory. Called once, before the load. False when `dir` is not a
// directory. `dir` is opened as the user named it, links included; nothing
// below it is reached through a link.
bool RBD_SetOutputBase(RBDDestination &destination, const char *dir);

// Starts writing entries of the run's package (open) into the output root:
// ./<root_name>/, below -C's directory, or -d's directory, made when
// missing, once the package's header has been read; its parent must exist.
// A root that can't be made or opened ends the run.
void RBD_StartWriting(RBDRun &run);

// With several workers, waits until every entry handed out is written and
// its lines printed, so that a line about the walk comes after them; with
// one, nothing to do.
void RBD_SettleWrites(RBDRun &run);

// Copies `size` bytes at `offset` of the package into
// <root>/<group><filename>, creating directories as needed. `raw_group` is
// the group path as the package spells it, ending in a slash, which the
// classic run's lines show and the limit on an output path's length
// measures; `group` its normal form, by which option mode's lines name the
// entry. `safe_group` is false when a name along it could lead outside the
// output root. Problems are printed as warnings; a run that would pass the
// output budget ends with status 1. With several workers the entry is
// handed out, and its lines come once it and every entry before it are
// written: false then, true when it was written and told here.
bool RBD_WriteFile(RBDRun &run, const char *raw_group, const char *group, const char *filename,
                   uint32_t offset, uint32_t size, bool safe_group);

// Ends the workers, if any, once every entry handed out is settled (the
// run's one way to stop, RBDStreams::stop), then closes what the writer
// keeps open between entries; called when the load ends.
void RBD_CloseOutput(RBDRun &run);

// Charges `size` bytes to the run's output budget, or ends the run with the
// budget's error: an entry checked (-t) or copied to standard output (-O)
// counts as one written.
void RBD_ChargeOrStop(RBDRun &run, uint64_t size);
