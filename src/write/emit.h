// Writing the package laid out: the header, the index records (each as the
// model keeps it, with its count or its data's offset put in where they
// changed), then the data, copied by the kernel from the base, the spool or
// the caller's files, in pieces between which the caller may stop it.
#pragma once

#include "layout.h"
#include "write_model.h"

#include <cstdint>

enum RBDEmitProblem {
    RBD_EMIT_DONE = 0,
    RBD_EMIT_WRITE_FAILED,   // the new file refused bytes (a full disk...): os_error
    RBD_EMIT_BASE_SHORT,     // the base ended before data it had when opened, or failed a read
    RBD_EMIT_SPOOL_SHORT,    // the spool could not be read back
    RBD_EMIT_SOURCE_CHANGED, // a caller's file is no longer the size it had: entry
    RBD_EMIT_INTERRUPTED,    // the caller stopped it (a signal is waiting)
    RBD_EMIT_READ_BACK,      // the package written does not read back as laid out
};

struct RBDEmitFault {
    RBDEmitProblem problem;
    int os_error;
    uint32_t entry;    // SOURCE_CHANGED: the entry whose file it is
    uint64_t size_now; // SOURCE_CHANGED: its size now
};

struct RBDEmitPlace {
    int out_fd;   // the new file, empty, at position 0
    int spool_fd; // the spool, or -1
    // Asked between pieces of data; true stops the writing.
    bool (*interrupted)(void *context);
    void *context;
};

// Writes the whole package. False with `fault` filled.
bool RBD_EmitPackage(const RBDWriteModel &model, const RBDLayout &layout, const RBDEmitPlace &place,
                     RBDEmitFault &fault);

// Reads the package written at `fd` back with the walk that every reader
// uses, and settles the header's index count: the base's own when the
// index reads back whole with it (the header then stays as it was), else
// the number of records, else one more (an index that ends on a group
// record needs it). False when none reads back exactly as laid out: every
// record, every entry's size and offset, and nothing after.
bool RBD_SettleCount(const RBDWriteModel &model, const RBDLayout &layout, int fd,
                     RBDEmitFault &fault);
