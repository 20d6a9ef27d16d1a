// An edit of a package in place, through libkestrun's writer: the package
// opened, the writer begun on it, each change made and noted, and the end of
// the run, which commits the package at once (or, in a dry run, leaves it
// alone) and then prints a line for each change and one of counts:
//   Replacing "data/a.wav"
//   Adding "data/b.wav"
//   Updated "game.rbd": 1 changed, 1 new, 0 gone.
// A run that fails leaves the package as it was, prints no change, and ends
// with status 1.
#pragma once

#include "kestrun/kestrun.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

struct EditCounts {
    size_t changed = 0; // entries whose bytes were replaced
    size_t added = 0;
    size_t gone = 0; // paths removed
    size_t renamed = 0;
};

struct EditRun {
    std::string package; // as the user named it
    bool dry_run = false;
    kr_package *base = nullptr;
    kr_writer *writer = nullptr;
    std::vector<std::string> lines; // one for each change, printed once done
    EditCounts counts;
};

// Opens `package` and begins the writer on it; ends the run when either fails.
void BeginEdit(EditRun &run, const char *package, bool dry_run);

// Prints `line` (an error) and ends the run with status 1, the package as it
// was.
[[noreturn]] void FailEdit(EditRun &run, const std::string &line);

// The same, when the errors were printed already.
[[noreturn]] void AbandonEdit(EditRun &run);

// `text` as the terminal behind `stream` should show it: with control
// characters escaped as kestrun escapes them, when it is a terminal.
std::string ShownOn(FILE *stream, const std::string &text);

// The rule of names or sizes that the writer's refusal of `path` in `err`
// names, as rbdpack words its refusals: "A file at the top level (files live
// in groups only)".
std::string RuleBroken(const kr_error &err, const std::string &path);

// The changes, each made in the writer and noted. Put gives the writer's code
// and leaves what it refuses to the caller; the others end the run when the
// writer fails.
int PutEntry(EditRun &run, const std::string &path, int fd, bool replacing, kr_error &err);
void RemoveEntries(EditRun &run, const std::string &path);
void NoteRename(EditRun &run, const std::string &from, const std::string &to);

// Commits the package, unless this is a dry run or nothing changed, and
// prints the lines; returns the status, 0, or ends the run on failure.
int FinishEdit(EditRun &run);
