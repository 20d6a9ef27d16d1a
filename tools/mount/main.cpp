// kestrun-mount: an RBD package as a read-only file system. It shows the tree
// that `kestrun PACKAGE` writes, with each file's bytes read from the package
// as they are asked for.
#include "mount_options.h"
#include "mount_package.h"
#include "serve.h"

int main(int argc, char **argv) {
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    MountOptions options;
    int status = ReadMountOptions(args, options);
    if (status < 0) {
        MountState state{};
        state.connection_options = options.connection;
        status = 1;
        if (OpenForMount(state, options)) {
            status = ServeMount(args, options, state);
            CloseMounted(state);
        }
    }
    FreeMountOptions(options);
    fuse_opt_free_args(&args);
    return status;
}
