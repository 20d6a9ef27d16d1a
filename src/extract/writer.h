// Writes the entries of the package that the command line reads, each with
// its "Writing" line and the warnings of whatever went wrong; the extraction
// engine (engine.h) does the writing.
#pragma once

#include <cstdint>

// Makes `dir` the directory that holds the output root, in place of the
// working directory. Called once, before the load. False when `dir` is not a
// directory. `dir` is opened as the user named it, links included; nothing
// below it is reached through a link.
bool RBD_SetOutputBase(const char *dir);

// Starts writing entries of the package open as `package_fd`, of
// `package_size` bytes, into ./<package_name>/ below the output base.
void RBD_StartWriting(int package_fd, uint64_t package_size);

// Copies `size` bytes at `offset` of the package into
// ./<package_name>/<path><filename>, creating directories as needed. `path` is
// the group path, ending in a slash; `safe_group` is false when a name along
// it could lead outside the output root. Problems are printed as warnings; a
// run that would pass the output budget ends with status 1.
void RBD_WriteFile(const char *path, const char *filename, uint32_t offset, uint32_t size,
                   bool safe_group);

// Closes what the writer keeps open between entries; called when the load ends.
void RBD_CloseOutput(void);

// Charges `size` bytes to the run's output budget, or ends the run with the
// budget's error: an entry checked (-t) or copied to standard output (-O)
// counts as one written.
void RBD_ChargeOrStop(uint64_t size);
