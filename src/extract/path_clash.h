// Which entries of a run may be written at once. Two entries clash when
// their paths below the output root are the same, or one lies on the other's
// way (a file "a" and an entry of group "a/"): written at once, either could
// come out as the other did not expect, so the later one waits for the
// earlier to end, and the tree comes out as one worker would leave it.
#pragma once

#include <string>

// The key that RBD_KeysClash compares: the names along `group_path` and
// `name` joined by '/', without empty names or ".", with ASCII letters in
// lower case (file systems that fold case: Windows', and some elsewhere);
// on Windows a backslash separates names too.
std::string RBD_ClashKeyOf(const char *group_path, const char *name);

// True when paths with keys `a` and `b` are the same, or one is a directory
// on the other's way.
bool RBD_KeysClash(const std::string &a, const std::string &b);
