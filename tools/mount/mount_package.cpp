#include "mount_package.h"

#include "left_out_warning.h"
#include "shown_name.h"
#include "tree_layout.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The package open for reading, in `fd`, and as the library's package.
kr_package *OpenPackage(const char *path, bool partial, struct stat &status, int &fd) {
    // Not blocking: a FIFO in place of the package must not hang the mount;
    // the flag is taken off again for the reads.
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 || fstat(fd, &status) != 0 || fcntl(fd, F_SETFL, 0) != 0) {
        std::fprintf(stderr, "kestrun-mount: %s: can't open the package: %s\n", path,
                     std::strerror(errno));
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    kr_package *package = nullptr;
    kr_error error;
    int code = kr_open_fd(fd, partial ? KR_OPEN_PARTIAL : 0, &package, &error);
    if (code != KR_OK) {
        close(fd);
        std::fprintf(stderr, "kestrun-mount: %s: %s%s\n", path, error.message,
                     code == KR_E_DAMAGED ? " (-o partial mounts the entries before the damage)"
                                          : "");
        return nullptr;
    }
    return package;
}

} // namespace

bool OpenForMount(MountState &state, const MountOptions &options) {
    const char *path = options.package;
    // The tree is the one kestrun writes below ./NAME/: a package whose name
    // gives no NAME is refused, as kestrun refuses it.
    char root_name[KR_MAX_ROOT_NAME + 1];
    if (kr_root_name(path, root_name) != KR_OK) {
        std::fprintf(stderr,
                     "kestrun-mount: %s: invalid package name: kestrun takes names of 4 to %d "
                     "characters, the last 4 its extension\n",
                     ShownOn(stderr, path).c_str(), KR_MAX_ROOT_NAME + 4);
        return false;
    }
    struct stat status {};
    int fd = -1;
    kr_package *package = OpenPackage(path, options.partial != 0, status, fd);
    if (package == nullptr) {
        return false;
    }
    kr_info info;
    kr_get_info(package, &info);
    if (info.damaged) {
        std::fprintf(stderr, "kestrun-mount: %s: %s; mounting the %u entries before it\n", path,
                     info.damage.message, info.entries);
    }
    state.package_fd = fd;
    MountTable &table = state.table;
    table.package = package;
    table.time = status.st_mtim;
    table.package_size = info.package_size;
    table.uid = options.uid_set ? options.uid : getuid();
    table.gid = options.gid_set ? options.gid : getgid();
    table.file_mode = options.umask_set ? 0666 & ~options.umask : 0444;
    table.directory_mode = options.umask_set ? 0777 & ~options.umask : 0555;
    if (!LayOutTree(table, root_name, WarnLeftOut, root_name)) {
        std::fprintf(stderr, "kestrun-mount: %s: no memory for the package's tree\n", path);
        CloseMounted(state);
        return false;
    }
    return true;
}

void CloseMounted(MountState &state) {
    kr_close(state.table.package);
    state.table.package = nullptr;
    close(state.package_fd);
    state.package_fd = -1;
}
