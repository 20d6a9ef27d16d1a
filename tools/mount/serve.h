// The mount's life: mounted read-only at MOUNTPOINT, served (by several
// threads unless -s) until it is unmounted (fusermount3 -u, umount) or the
// daemon gets SIGINT, SIGTERM or SIGHUP, then unmounted.
#pragma once

#include "mount_options.h"
#include "operations.h"

// Mounts and serves `state`; the exit status: 0 once it ended cleanly, 1
// when it could not be mounted or the session failed.
int ServeMount(fuse_args &args, const MountOptions &options, MountState &state);
