// Writes one entry of the package to its place in the output tree.
#pragma once

#include <cstdint>

// Copies `size` bytes at `offset` of the package stream into
// ./<package_name>/<path><filename>, creating directories as needed. `path` is
// the group path, ending in a slash. Problems are printed as warnings; the
// package stream is always left where it was.
void RBD_WriteFile(const char *path, const char *filename, uint32_t offset, uint32_t size);

// Reports an entry whose group path holds an unsafe name, writing nothing.
void RBD_RefuseFile(const char *path, const char *filename);

// Makes `dir` the directory that holds the output root, in place of the
// working directory. Called once, before the load. False when `dir` is not a
// directory.
bool RBD_SetOutputBase(const char *dir);

// The directory that holds the output root: "." unless RBD_SetOutputBase
// named another.
const char *RBD_OutputBase();
