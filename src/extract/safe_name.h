// Which names from a package may become a path component under the output root.
#pragma once

// False for a name that could lead outside the output root or name something
// other than a plain entry: ".", "..", anything holding a path separator, and
// a drive form such as "C:".
bool IsSafeName(const char *name);
