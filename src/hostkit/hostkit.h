// Host services: the few file-system chores that differ between operating
// systems. Built as its own shared library, libhostkit.
#pragma once

#ifdef _WIN32
#ifdef HOSTKIT_BUILD
#define HK_API __declspec(dllexport)
#else
#define HK_API __declspec(dllimport)
#endif
#else
#define HK_API __attribute__((visibility("default")))
#endif

#include <stddef.h>
#include <stdint.h>

extern "C" {

// True when something other than a directory exists at `path`.
HK_API bool hkFileExists(const char *path);

// Text describing the last failure of a host operation (or of the C library).
HK_API const char *hkGetError(void);

// The last component of `path`: "music.rbd" for "games/music.rbd". The result
// points into `path`.
HK_API const char *hkGetFileName(const char *path);

// Prepares the library for the run; needs the program's arguments.
HK_API bool hkInitialize(int argc, char **argv);

// Creates every missing directory along `path`. True when the whole path
// exists as directories afterwards, also when nothing had to be created. It
// may remember the last path it made whole and answer true for it again
// without looking: the program only ever adds directories.
HK_API bool hkCreatePath(const char *path);

// What hkCopyRange did.
enum {
    HK_COPY_DONE = 0,         // every byte was copied
    HK_COPY_SHORT_READ = 1,   // the source ended first or could not be read;
                              // what was copied stays
    HK_COPY_WRITE_FAILED = 2, // the destination refused bytes; hkGetError says why
};

// Copies `size` bytes found at `offset` of the file open as descriptor `in_fd`
// to descriptor `out_fd` at its current position. The caller sees one call of
// the entry's full size; how the bytes travel is the library's affair, but it
// never holds `size` bytes in memory and never moves `in_fd`'s position.
// Descriptors are the C library's (on Windows, the C runtime's); the output
// may be any writable one: a file, a pipe, a terminal.
HK_API int hkCopyRange(int out_fd, int in_fd, uint64_t offset, uint64_t size);
}
