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
// exists as directories afterwards, also when nothing had to be created.
HK_API bool hkCreatePath(const char *path);
}
