// The file system's answers to the kernel, on libfuse's low-level API: every
// answer comes from the immutable node table and positional reads of the
// package, so any number of threads serve requests at once, without locks.
#pragma once

#include "node_table.h"

#include <atomic>
#include <fuse_lowlevel.h>

struct MountState {
    MountTable table;
    // The -o options of libfuse's own that set up the connection
    // (max_readahead, async_read and the like), applied over our defaults.
    fuse_conn_info_opts *connection_options;
    // The kernel opens files and directories without asking us: each open
    // would only say again what never changes.
    std::atomic<bool> opens_skipped;
    // The package, open for reading of our own, to splice from; and whether
    // the connection takes replies spliced to the FUSE device.
    int package_fd;
    std::atomic<bool> splice_replies;
};

// The operations, with a MountState as the session's user data.
const fuse_lowlevel_ops &MountOperations();
