// Host services: the few file-system chores that differ between operating
// systems. Built as its own shared library, libhostkit.
#pragma once

// The same objects make libhostkit and go, with nothing of them exported,
// into libkestrun, whose version script keeps only its own API. On Windows
// nothing is marked: the linker then exports every function of
// libhostkit.dll, and callers reach them through its import library.
#if defined(_WIN32)
#define HK_API
#else
#define HK_API __attribute__((visibility("default")))
#endif

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// True when something other than a directory exists at `path`.
HK_API bool hkFileExists(const char *path);

// Text describing the last failure of a host operation (or of the C library)
// on the calling thread. The text is the thread's own and stays valid until
// its next call.
HK_API const char *hkGetError(void);

// The code behind hkGetError: errno, or on Windows GetLastError().
HK_API int hkErrorCode(void);

// The last component of `path`: "music.rbd" for "games/music.rbd". The result
// points into `path`.
HK_API const char *hkGetFileName(const char *path);

// --- Output below directory handles ------------------------------------
//
// The entry writer creates its directories and files relative to directory
// handles, one name at a time, so that no symbolic link (on Windows, no
// reparse point) below the output base is ever followed and a path is never
// resolved twice.

// An open directory. A null handle stands for the working directory.
typedef struct hkDirectory hkDirectory;

// Opens the directory `path` as the user named it (links in it are followed:
// they are the user's own). Null, with hkGetError saying why, when it is not
// a directory or can't be opened.
HK_API hkDirectory *hkOpenDirectory(const char *path);

// Why hkOpenBelow gave no handle.
enum {
    HK_BELOW_LINK = 1,          // a symbolic link or reparse point is in the way
    HK_BELOW_NOT_DIRECTORY = 2, // something else that is not a directory is in the way
    HK_BELOW_FAILED = 3,        // anything else (permissions, no space...); see hkGetError
};

// Opens the directory `relative` below `base` (null: the working directory),
// creating every missing level. `relative` is a path of '/'-separated names;
// empty names and "." are skipped, and ".." is refused. No level is ever
// reached through a link: a link, or a non-directory, at any level fails with
// `*why` set. With no names at all, the result is a new handle of `base`.
HK_API hkDirectory *hkOpenBelow(hkDirectory *base, const char *relative, int *why);

// As hkOpenBelow, but creates nothing: a missing level fails (HK_BELOW_FAILED,
// with hkGetError saying so), as a link or a non-directory does. For looking
// at what an extraction would meet without writing.
HK_API hkDirectory *hkFindBelow(hkDirectory *base, const char *relative, int *why);

// Closes a handle from hkOpenDirectory, hkOpenBelow or hkFindBelow; null is
// ignored.
HK_API void hkCloseDirectory(hkDirectory *dir);

// The descriptor of the open directory `dir`, to be named in *at calls where
// no other call may be made (a signal handler); -1 for the working directory
// (null) and on Windows, where directories have no such descriptor.
HK_API int hkDirectoryFd(const hkDirectory *dir);

// What hkCreateFile did.
enum {
    HK_CREATE_DONE = 0,   // a new, empty file is open for writing
    HK_CREATE_EXISTS = 1, // something already has the name; nothing was opened
    HK_CREATE_FAILED = 2, // see hkGetError
};

// Creates the file `name` (one component) in `dir` and opens it for writing;
// never opens or follows anything that already has the name. On
// HK_CREATE_DONE `*fd` is a descriptor of the C library (on Windows, of the C
// runtime), to be closed with hkCloseFile.
HK_API int hkCreateFile(hkDirectory *dir, const char *name, int *fd);

// Closes a descriptor from hkCreateFile; false when the close reported an
// error (data may not have reached the file).
HK_API bool hkCloseFile(int fd);

// Cuts the file open as `fd` to zero bytes.
HK_API bool hkEmptyFile(int fd);

// Removes the name `name` (one component, never a directory) from `dir`;
// the link itself when it is one, never what it points to.
HK_API bool hkRemoveBelow(hkDirectory *dir, const char *name);

// True when whatever already has a name may be removed to make way for a new
// file: hkIdentityBelow sees a link as a link, and hkRemoveBelow removes the
// link alone. False for the Windows build under Wine, where a Unix symbolic
// link to a file passes for that file (its identity is the target's), and
// removing it removes its target.
HK_API bool hkCanReplaceNames(void);

// Which file an object is: two objects with the same identity are the same
// file, whatever their names or links.
typedef struct hkFileId {
    uint64_t volume; // device (POSIX) or volume serial number (Windows)
    uint64_t file;   // inode (POSIX) or file index (Windows)
    bool is_directory;
} hkFileId;

// The identity of what has the name `name` in `dir`, not following a link
// (a link's own identity). False when nothing has it, or it can't be looked at.
HK_API bool hkIdentityBelow(hkDirectory *dir, const char *name, hkFileId *id);

// The identity of the file open as C library descriptor `fd`.
HK_API bool hkDescriptorIdentity(int fd, hkFileId *id);

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
// never holds `size` bytes in memory and never uses `in_fd`'s position (on
// Windows a read at an offset leaves it moved), so any number of threads may
// copy from one `in_fd` at once.
// Descriptors are the C library's (on Windows, the C runtime's); the output
// may be any writable one: a file, a pipe, a terminal.
HK_API int hkCopyRange(int out_fd, int in_fd, uint64_t offset, uint64_t size);

// hkCopyRange for a library that may not let a signal end its caller: a pipe
// or socket whose reader has gone fails the copy with EPIPE and never raises
// SIGPIPE on the process (the signal is held back in the calling thread for
// the call, and one that the call raised is taken away; one pending before
// the call stays pending). `*sent` (when not null) is set to the bytes that
// went out to `out_fd`, whatever the result, so that a caller whose output
// refused more for now (EAGAIN on a non-blocking descriptor) can go on from
// there.
HK_API int hkSendRange(int out_fd, int in_fd, uint64_t offset, uint64_t size, uint64_t *sent);

// --- Reading a tree below directory handles --------------------------
//
// For comparing a directory tree, such as an earlier extraction, with a
// package: names are listed and files opened relative to directory handles,
// and no symbolic link (on Windows, no reparse point) is ever followed.

// What a name in a directory is, as the name itself shows it.
enum {
    HK_KIND_FILE = 1,      // a regular file
    HK_KIND_DIRECTORY = 2, // a directory, never a link to one
    HK_KIND_LINK = 3,      // a symbolic link or reparse point, to whatever it leads
    HK_KIND_OTHER = 4,     // a FIFO, a socket, a device
};

// The names of one open directory, one at a time.
typedef struct hkListing hkListing;

// Starts listing `dir` (null: the working directory). Null, with hkGetError
// saying why, when it can't be read.
HK_API hkListing *hkListDirectory(hkDirectory *dir);

// The next name of the listing, in no particular order, "." and ".." left
// out: 1 with `*name` (valid until the next call) and its `*kind` (a link
// is a link, never what it leads to); 0 at the end; -1 when the directory
// could not be read further (hkGetError says why).
HK_API int hkNextName(hkListing *listing, const char **name, int *kind);

// Ends a listing; null is ignored.
HK_API void hkCloseListing(hkListing *listing);

// What hkOpenFileBelow did.
enum {
    HK_OPEN_DONE = 0,     // the regular file is open for reading
    HK_OPEN_LINK = 1,     // a symbolic link or reparse point has the name: not followed
    HK_OPEN_NOT_FILE = 2, // something else that is no regular file has it: not read
    HK_OPEN_FAILED = 3,   // see hkGetError
};

// Opens the regular file `name` (one component) in `dir` for reading. A
// link is never followed, and a FIFO or a device is never waited for or
// read. On HK_OPEN_DONE `*fd` is a descriptor of the C library (on Windows,
// of the C runtime, in binary mode), to be closed with hkCloseFile.
HK_API int hkOpenFileBelow(hkDirectory *dir, const char *name, int *fd);

// --- Reading at explicit offsets ---------------------------------------

// Reads up to `size` bytes at `offset` of descriptor `fd` into `into`,
// without using its position (on Windows the read leaves it moved), so any
// number of threads may read one `fd` at once. Returns how many arrived: fewer than
// `size` only at the end of the file; -1 when the read failed (errno, on
// Windows GetLastError, says why).
HK_API int64_t hkReadAt(int fd, uint64_t offset, void *into, size_t size);

// The length in bytes of the file open as `fd`, in `*size`; false when it
// can't be had (a pipe).
HK_API bool hkFileSize(int fd, uint64_t *size);

// --- Writing files whole ---------------------------------------------------

// Writes all `size` bytes at the current position of descriptor `fd`; false
// when a write failed (hkGetError says why).
HK_API bool hkWriteAll(int fd, const void *bytes, size_t size);

// Writes all `size` bytes at `offset` of `fd` (on Windows the write leaves
// its position moved); false when a write failed.
HK_API bool hkWriteAt(int fd, uint64_t offset, const void *bytes, size_t size);

// hkCopyRange for an output that is a regular file: the kernel copies from
// file to file where it can (copy_file_range, which may share the blocks on
// a file system that can, such as Btrfs or XFS), else as hkCopyRange does.
HK_API int hkCopyFileRange(int out_fd, int in_fd, uint64_t offset, uint64_t size);

// A descriptor of the process's own for the file open as `fd`, for reading
// at offsets without ever moving `fd`'s position: on POSIX systems a
// duplicate (whose position nothing here uses), on Windows the file opened
// anew, else a duplicate of its handle. -1 with hkErrorCode saying why.
HK_API int hkReopenForReading(int fd);

// A file as it is at one moment: which file (volume and number), and what
// shows that its contents changed (size, time of the last change).
typedef struct hkFileStamp {
    bool exists;      // false when nothing has the name (hkTargetStamp)
    bool regular;     // a regular file (on Windows, a file that is no directory)
    uint64_t volume;  // device (POSIX) or volume serial number (Windows)
    uint64_t file;    // inode (POSIX) or file index (Windows)
    uint64_t size;    // bytes
    int64_t modified; // nanoseconds since 1970 (POSIX); 100 ns since 1601 (Windows)
    uint32_t mode;    // permission bits, set-id and sticky bits (POSIX; 0 on Windows)
    uint32_t owner;   // user and group (POSIX; 0 on Windows)
    uint32_t group;
} hkFileStamp;

// The stamp of the file open as `fd`; false when it can't be had.
HK_API bool hkDescriptorStamp(int fd, hkFileStamp *stamp);

// True when two stamps show the same file with the same contents.
HK_API bool hkSameStamp(const hkFileStamp *a, const hkFileStamp *b);

// --- Replacing a file at once ----------------------------------------------
//
// A target is a name whose file is replaced whole: a new file is written
// under no name (or a hidden temporary one) in the same directory, flushed,
// and renamed over the name at once, so that the name always holds either
// the old file whole or the new one whole, whatever ends the process.

typedef struct hkTarget hkTarget;

// The name `path` as a target. On POSIX systems a symbolic link at `path`
// is followed, link after link, to the name of the file it leads to, and
// that name becomes the target (the links stay as they are); the directory
// that holds it stays open. A link that leads nowhere is refused (ENOENT),
// so is a loop of links (ELOOP), a directory (EISDIR), and a name in no
// directory that can be opened. On Windows the name is the target as it is.
// Null, with hkErrorCode saying why, when it can't be had.
HK_API hkTarget *hkOpenTarget(const char *path);

// Where a file is: the directory that holds its name, and the name.
typedef struct hkFilePlace {
    uint64_t volume;    // the directory's volume and number, as hkFileStamp
    uint64_t directory; // gives a file's
    char name[256];
} hkFilePlace;

// The place of the target's name; false when it can't be had.
HK_API bool hkTargetPlace(const hkTarget *target, hkFilePlace *place);

// True when two places are the same name in the same directory.
HK_API bool hkSamePlace(const hkFilePlace *a, const hkFilePlace *b);

// Gives back the target; a temporary file not placed is removed. Null is ignored.
HK_API void hkCloseTarget(hkTarget *target);

// The stamp of what has the target's name now (`exists` false when nothing
// has it; a link there is not followed); false when it can't be looked at.
HK_API bool hkTargetStamp(const hkTarget *target, hkFileStamp *stamp);

// A file for scratch bytes in the target's directory, open for reading and
// writing, that no name leads to: made without a name where the system can
// (O_TMPFILE), else made as ".<name>.<8 hex digits>.spool" and removed at
// once (on Windows, removed when it is closed). -1 with hkErrorCode.
HK_API int hkCreateSpool(hkTarget *target);

// Makes the file that will replace the target's: open for reading and
// writing, without a name where the system can (O_TMPFILE on Linux), else
// named ".<name>.<8 hex digits>.tmp" in the target's directory. With
// `private_mode` only its owner may read it until hkFinishTemporary (the
// target's file exists and its mode is copied then); else it takes the
// mode a new file takes (0666 less the umask). One temporary per target at
// a time; the target keeps its descriptor. -1 with hkErrorCode.
//
// Signals: SIGINT, SIGTERM and SIGHUP, for as long as their action is the
// default one (they would end the process), are held back in the calling
// thread while the temporary has a name, so that none can end the process
// with the name there: when the file is named from the start, from here to
// hkPlaceTemporary or hkDiscardTemporary (the caller polls
// hkTemporaryInterrupted and gives up when it says so); otherwise only
// around giving it the target's name. A signal held back is delivered when
// the target lets it go, and then ends the process as it would have.
HK_API int hkCreateTemporary(hkTarget *target, bool private_mode);

// True when a signal held back for the named temporary is waiting: the
// caller should discard the temporary, after which the signal is delivered.
HK_API bool hkTemporaryInterrupted(const hkTarget *target);

// Gives the temporary the owner and mode of `like` when `like->exists` (the
// owner only where the process may set it), then flushes it to the disk.
// False, with hkErrorCode, when the flush (or the mode) failed.
HK_API bool hkFinishTemporary(hkTarget *target, const hkFileStamp *like);

// Puts the temporary at the target's name and flushes the directory; the
// temporary is then closed and gone. With `replace` whatever has the name
// is replaced; without, the name must be free (else EEXIST), and nothing
// is ever replaced. False, with hkErrorCode, when the name was not given:
// the temporary is then removed, and the name is as it was.
HK_API bool hkPlaceTemporary(hkTarget *target, bool replace);

// Closes and removes the temporary, if there is one.
HK_API void hkDiscardTemporary(hkTarget *target);

#ifdef __cplusplus
}
#endif
