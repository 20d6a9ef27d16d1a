#include "piece_copy.h"

#include "../hostkit/hostkit.h"

int RBD_CopyInPieces(int out_fd, int in_fd, uint64_t offset, uint64_t size,
                     const RBDPieces &pieces) {
    if (pieces.size == 0) {
        return hkCopyRange(out_fd, in_fd, offset, size);
    }
    while (size > 0) {
        uint64_t now = size < pieces.size ? size : pieces.size;
        int copied = hkCopyRange(out_fd, in_fd, offset, now);
        if (copied != HK_COPY_DONE) {
            return copied;
        }
        if (pieces.copied != nullptr) {
            pieces.copied(pieces.context, now);
        }
        offset += now;
        size -= now;
    }
    return HK_COPY_DONE;
}
