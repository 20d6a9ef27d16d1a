// Which entries `kestrun PACKAGE` refuses before it touches the disk, by the
// command line's own rules: an unsafe name along the entry's path, or an
// output path "./NAME/<group><name>" longer than the command line allows,
// NAME being the package's file name less its last four characters.
#pragma once

#include "kestrun/kestrun.h"

#include <string>

enum EntryVerdict {
    ENTRY_TAKEN = 0,
    ENTRY_UNSAFE,   // "Refusing unsafe path"
    ENTRY_TOO_LONG, // "Path too long"
};

// The name of the output directory that kestrun makes for the package at
// `package_path`: its file name less its last four characters ("" for a
// shorter name, which kestrun would not take at all).
std::string RootNameOf(const char *package_path);

// The library flags an entry unsafe by the same rules below an output root
// of its caller's, whose name it can't know; this applies them below
// `root_name`, as the command line does.
EntryVerdict VerdictOn(const kr_entry &entry, const char *root_name);
