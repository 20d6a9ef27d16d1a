// Text that stays as long as its store, in blocks that never grow or move:
// whoever keeps text measures it first and asks for room of exactly that
// size, so that memory follows what is kept, without the spare room and the
// copies of a buffer that doubles.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// Small requests share blocks; what a shared block can't take is left
// unused, a sixteenth of it at most, and pages never touched are never
// resident.
struct RBDTextStore {
    std::vector<std::unique_ptr<char[]>> blocks;
    char *free_at;    // the unused end of the last shared block
    size_t free_left; // its bytes
};

// Room for `length` bytes that stays until the store is gone. Throws
// std::bad_alloc when the memory can't be had.
char *RBD_TextRoom(RBDTextStore &store, size_t length);
