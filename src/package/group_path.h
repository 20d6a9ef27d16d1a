// Group paths: the names of a group and its ancestors, top level first, each
// followed by a slash ("data/snd/"). A group path as the package spells it
// may hold empty names ("/etc/", "a//b/"), which extraction passes over; its
// normal form leaves them out ("etc/", "a/b/"), and is the directory that
// extraction writes to below the output root: never a leading slash, never
// two slashes in a row.
#pragma once

#include <cstddef>

// Appends `name` and a slash to the group path in `path`, a buffer of
// RBD_MAX_PATH + 1 bytes holding `length` characters. False, with `path`
// unchanged, when the result would be longer than RBD_MAX_PATH. The bound on
// the path also bounds how deep groups can nest.
bool RBD_AppendGroupName(char *path, size_t length, const char *name);

// Appends `name` and a slash to the normal group path in `path` (a buffer of
// RBD_MAX_PATH + 1 bytes holding `length` characters), or nothing when the
// name is empty; gives the new length. The normal form is never longer than
// the group path as spelled, whose bound the caller has checked.
size_t RBD_AppendNormalName(char *path, size_t length, const char *name);
