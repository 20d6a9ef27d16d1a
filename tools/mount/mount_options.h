// The command line: kestrun-mount PACKAGE MOUNTPOINT [-f] [-d] [-s] [-o OPTIONS],
// read by libfuse's conventions. -o partial, uid=, gid= and umask= are ours;
// every other option is libfuse's and stays in the argument list for it.
#pragma once

#include <fuse_lowlevel.h>

struct MountOptions {
    char *package; // the first word that is not an option
    int partial;   // -o partial: mount the entries before damage in the index
    // -o uid=N, gid=N: the owner that every node shows (the mounting user's
    // by default); -o umask=M: the permission bits taken away from 0666 for
    // files and 0777 for directories (by default they are 0444 and 0555).
    unsigned uid;
    unsigned gid;
    unsigned umask;
    int uid_set;
    int gid_set;
    int umask_set;
    fuse_cmdline_opts cmdline;
    fuse_conn_info_opts *connection; // libfuse's -o options for the connection
};

// Reads the command line into `options`, leaving in `args` what libfuse's
// session takes. Returns -1 to go on and mount, or the exit status once help,
// the version or a usage error has been printed.
int ReadMountOptions(fuse_args &args, MountOptions &options);

void FreeMountOptions(MountOptions &options);
