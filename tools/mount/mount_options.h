// The command line: kestrun-mount PACKAGE MOUNTPOINT [-f] [-d] [-s] [-o OPTIONS],
// read by libfuse's conventions. -o partial is ours; every other option is
// libfuse's and stays in the argument list for it.
#pragma once

#include <fuse_lowlevel.h>

struct MountOptions {
    char *package; // the first word that is not an option
    int partial;   // -o partial: mount the entries before damage in the index
    fuse_cmdline_opts cmdline;
    fuse_conn_info_opts *connection; // libfuse's -o options for the connection
};

// Reads the command line into `options`, leaving in `args` what libfuse's
// session takes. Returns -1 to go on and mount, or the exit status once help,
// the version or a usage error has been printed.
int ReadMountOptions(fuse_args &args, MountOptions &options);

void FreeMountOptions(MountOptions &options);
