// Opening a package file, the one way the command line and the library (and,
// through it, the mount) do it. A package is read at many offsets, so only a
// file that can be read so is taken: a regular file or a block device. The
// others (a FIFO, a socket, a character device, a directory) are refused at
// once, before anything is read, rather than hanging on a FIFO with no
// writer or failing later on a read.
#pragma once

// Why a package file was refused.
struct RBDOpenFailure {
    // errno (on Windows, the system's error code): the system's own refusal,
    // or for a refused kind the code that stands for it (EISDIR for a
    // directory, ESPIPE for the others; ERROR_INVALID_FUNCTION on Windows).
    int os_error;
    // For a file of a kind no package can be read from, what it is ("a
    // FIFO", "a directory"...); null when the system refused it.
    const char *kind;
};

// Opens `path` for reading: without blocking (a FIFO has no writer to wait
// for), never as a controlling terminal, not inherited by child processes.
// The descriptor is the C library's (on Windows, the C runtime's, in binary
// mode), set to block again for the reads; -1 with `failure` filled when the
// system refuses the file or it is of a kind refused as said above.
int RBD_OpenPackageFile(const char *path, RBDOpenFailure &failure);

// The same check of kind for a descriptor opened elsewhere: true for a
// regular file or a block device (on Windows, a file on disk), else false
// with `failure` filled. Reads nothing and changes nothing of `fd`.
bool RBD_CheckPackageFile(int fd, RBDOpenFailure &failure);
