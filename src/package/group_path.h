// Group paths: the names of a group and its ancestors, top level first, each
// followed by a slash ("data/snd/").
#pragma once

#include <cstddef>

// Appends `name` and a slash to the group path in `path`, a buffer of
// RBD_MAX_PATH + 1 bytes holding `length` characters. False, with `path`
// unchanged, when the result would be longer than RBD_MAX_PATH. The bound on
// the path also bounds how deep groups can nest.
bool RBD_AppendGroupName(char *path, size_t length, const char *name);
