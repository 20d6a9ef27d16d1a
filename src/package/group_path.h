// Group paths: the names of a group and its ancestors, top level first, each
// followed by a slash ("data/snd/").
#pragma once

#include "../types.h"

// Appends the group path of `group` to `path`, a buffer of RBD_MAX_PATH + 1
// bytes. False, with `path` left holding only whole components, when the
// result would be longer than RBD_MAX_PATH.
bool RecurseGroupPath(char *path, const RBDGroup *group);

// True when no name along the group path of `group` could lead outside the
// output root.
bool IsSafeGroup(const RBDGroup *group);
