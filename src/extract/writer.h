// Writes one entry of the package to its place in the output tree.
#pragma once

#include <cstdint>

// Copies `size` bytes at `offset` of the package stream into
// ./<package_name>/<path><filename>, creating directories as needed. `path` is
// the group path, ending in a slash. Problems are printed as warnings; the
// package stream is always left where it was. No link below the output base
// is ever followed, an existing non-directory at the entry's path is
// replaced (the package itself never), and a run that would pass the output
// budget (output_budget.h) ends with status 1.
void RBD_WriteFile(const char *path, const char *filename, uint32_t offset, uint32_t size);

// Reports an entry whose group path holds an unsafe name, writing nothing.
void RBD_RefuseFile(const char *path, const char *filename);

// Makes `dir` the directory that holds the output root, in place of the
// working directory. Called once, before the load. False when `dir` is not a
// directory. `dir` is opened as the user named it, links included; nothing
// below it is reached through a link.
bool RBD_SetOutputBase(const char *dir);

// Closes the directory that the writer keeps open between entries; called
// when the load ends (the next entry would open it again).
void RBD_CloseOutput(void);
