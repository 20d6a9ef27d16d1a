// Which names from a package may become a path component under the output root.
#pragma once

// False for a name that could lead outside the output root or name something
// other than a plain entry: ".", "..", anything holding a path separator, and
// a drive form such as "C:". On Windows also the names that the system would
// turn into something else (see IsSafeNameOn).
bool IsSafeName(const char *name);

// IsSafeName by the rules of a given platform, so that the Windows rules can
// be checked on any host. With `windows_rules` a name is also refused when it
// is a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case,
// with or without an extension), ends in a dot or a space, or holds a colon.
bool IsSafeNameOn(const char *name, bool windows_rules);
