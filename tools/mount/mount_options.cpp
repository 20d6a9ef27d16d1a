#include "mount_options.h"

#include "kestrun/kestrun.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

const fuse_opt kOurOptions[] = {
    {"partial", offsetof(MountOptions, partial), 1},
    {"uid=%u", offsetof(MountOptions, uid), 0},
    {"uid=", offsetof(MountOptions, uid_set), 1},
    {"gid=%u", offsetof(MountOptions, gid), 0},
    {"gid=", offsetof(MountOptions, gid_set), 1},
    {"umask=%o", offsetof(MountOptions, umask), 0},
    {"umask=", offsetof(MountOptions, umask_set), 1},
    FUSE_OPT_END,
};

// The package is the first word that is not an option; the mount point, the
// next, is left for libfuse.
int TakePackage(void *data, const char *arg, int key, fuse_args * /*args*/) {
    auto *options = static_cast<MountOptions *>(data);
    if (key == FUSE_OPT_KEY_NONOPT && options->package == nullptr) {
        options->package = strdup(arg);
        return options->package == nullptr ? -1 : 0;
    }
    return 1;
}

void PrintUsage(FILE *to) {
    std::fprintf(to, "usage: kestrun-mount PACKAGE MOUNTPOINT [options]\n");
}

void PrintHelp() {
    PrintUsage(stdout);
    std::printf("\nMounts an RBD package read-only: MOUNTPOINT shows the tree that\n"
                "`kestrun PACKAGE` would write, without extracting it.\n\n"
                "    -o partial             mount the entries before damage in the index\n"
                "    -o uid=N,gid=N         the owner of every file and directory\n"
                "                           (default: the user who mounts)\n"
                "    -o umask=M             permissions: files 0666 and directories 0777\n"
                "                           less M (default: 0444 and 0555)\n");
    fuse_cmdline_help();
    fuse_lowlevel_help();
}

// FUSE mounts over a file as readily as over a directory, and the mount then
// answers nothing but errors: the mount point must be a directory.
bool MountPointIsDirectory(const char *path) {
    struct stat status {};
    if (stat(path, &status) != 0) {
        std::fprintf(stderr, "kestrun-mount: %s: can't use it as the mount point: %s\n", path,
                     std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "kestrun-mount: %s: the mount point is not a directory\n", path);
        return false;
    }
    return true;
}

} // namespace

int ReadMountOptions(fuse_args &args, MountOptions &options) {
    std::memset(&options, 0, sizeof options);
    // libfuse has said what it could not take.
    if (fuse_opt_parse(&args, &options, kOurOptions, TakePackage) != 0 ||
        fuse_parse_cmdline(&args, &options.cmdline) != 0) {
        std::fprintf(stderr, "Try 'kestrun-mount --help' for more information.\n");
        return 1;
    }
    if (options.cmdline.show_help) {
        PrintHelp();
        return 0;
    }
    if (options.cmdline.show_version) {
        std::printf("kestrun-mount %s (libkestrun %s, FUSE library %s)\n", KESTRUN_MOUNT_VERSION,
                    kr_version(), fuse_pkgversion());
        std::fflush(stdout); // before what libfuse and fusermount3 print
        fuse_lowlevel_version();
        return 0;
    }
    if (options.package == nullptr || options.cmdline.mountpoint == nullptr) {
        PrintUsage(stderr);
        std::fprintf(stderr, "Try 'kestrun-mount --help' for more information.\n");
        return 1;
    }
    if (options.umask_set && options.umask > 0777) {
        std::fprintf(stderr, "kestrun-mount: -o umask=%o: not a mask of permission bits\n",
                     options.umask);
        return 1;
    }
    if (!MountPointIsDirectory(options.cmdline.mountpoint)) {
        return 1;
    }
    options.connection = fuse_parse_conn_info_opts(&args);
    return options.connection == nullptr ? 1 : -1;
}

void FreeMountOptions(MountOptions &options) {
    std::free(options.package);
    std::free(options.cmdline.mountpoint);
    std::free(options.connection);
}
