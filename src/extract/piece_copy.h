// Copying a range of the package in pieces, so that a caller can show a
// large entry moving. The extraction engine copies into its files with it,
// and the command line to standard output.
#pragma once

#include <cstdint>

// How a copy is cut: `size` zero is one call of the whole range; otherwise
// pieces of `size` bytes, `copied(context, bytes)` (when set) being called
// after each with the bytes it moved.
struct RBDPieces {
    uint64_t size;
    void (*copied)(void *context, uint64_t bytes);
    void *context;
};

// Copies `size` bytes at `offset` of `in_fd` to `out_fd` as hkCopyRange
// does, in the pieces asked for; gives hkCopyRange's answer (HK_COPY_...),
// the first piece that was not copied whole ending the copy.
int RBD_CopyInPieces(int out_fd, int in_fd, uint64_t offset, uint64_t size,
                     const RBDPieces &pieces);
