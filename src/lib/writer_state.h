// What a kr_writer holds: the model of the package being written, the
// target it goes to, and the spool of the bytes given to it.
#pragma once

#include "../hostkit/hostkit.h"
#include "../write/emit.h"
#include "../write/path_rules.h"
#include "../write/write_model.h"
#include "kestrun/kestrun.h"

#include <cstddef>
#include <cstdint>

struct kr_writer {
    RBDWriteModel model;
    const kr_package *base; // null when begun empty
    hkTarget *target;       // the name commit replaces, links followed
    hkFileStamp expected;   // what has that name, as commit must still find it
    size_t root_length;     // of the output root kestrun makes of the path's name
    int spool_fd;
    uint64_t spool_end; // the spool's size, where the next bytes go
};

// The writer's texts of refusals and failures, in `*err`; each returns its code.
int RBD_RefusePath(const char *path, const RBDPathVerdict &verdict, size_t root_length,
                   kr_error *err);
int RBD_EmitError(const kr_writer &w, const RBDEmitFault &fault, kr_error *err);
int RBD_SystemError(int code, int os_error, kr_error *err, const char *what);

// Commits the package (writer_commit.cpp); the caller frees the writer.
int RBD_CommitWriter(kr_writer &w, kr_error *err);
