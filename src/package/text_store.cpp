#include "text_store.h"

namespace {

// Requests of at most kSharedMost bytes go into shared blocks of kSharedBlock
// bytes; a larger one has a block of its own.
const size_t kSharedBlock = size_t{64} << 10;
const size_t kSharedMost = kSharedBlock / 16;

} // namespace

char *RBD_TextRoom(RBDTextStore &store, size_t length) {
    bool own_block = length > kSharedMost;
    if (!own_block && length <= store.free_left) {
        char *room = store.free_at;
        store.free_at += length;
        store.free_left -= length;
        return room;
    }
    // Owned before the vector may grow, so that no block is lost should it fail.
    store.blocks.push_back(std::unique_ptr<char[]>(new char[own_block ? length : kSharedBlock]));
    char *room = store.blocks.back().get();
    if (!own_block) {
        store.free_at = room + length;
        store.free_left = kSharedBlock - length;
    }
    return room;
}
