// The model of a base package: its index walked as reading walks it, each
// record kept as its bytes lie in the file.
#pragma once

#include "write_model.h"

#include <cstdint>

enum RBDLoadResult {
    RBD_LOAD_DONE,
    RBD_LOAD_READ_FAILED, // a read of the index failed; see os_error
    RBD_LOAD_CHANGED,     // the walk met other entries than `entries`: the file changed
};

// Fills `model` (started with RBD_StartModel) with the package open as `fd`,
// `size` bytes long when it was opened with `entries` entries. The walk
// stops where reading stopped at damage, so a base opened with
// KR_OPEN_PARTIAL gives what it kept. An entry whose data lies past the end
// keeps its record with its size set to 0. Throws std::bad_alloc.
RBDLoadResult RBD_LoadBase(RBDWriteModel &model, int fd, uint64_t size, uint32_t entries,
                           int *os_error);
