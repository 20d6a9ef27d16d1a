#include "serve.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>

namespace {

// Names the mount after the package (user options that come later may name
// it otherwise) and makes it read-only whatever the user asked, so that the
// kernel itself answers every write with EROFS.
bool AddMountOptions(fuse_args &args, const char *package) {
    char *named = nullptr;
    std::string fsname = std::string("fsname=") + package;
    bool added = fuse_opt_add_opt_escaped(&named, fsname.c_str()) == 0 &&
                 fuse_opt_insert_arg(&args, 1, "-o") == 0 &&
                 fuse_opt_insert_arg(&args, 2, named) == 0 && fuse_opt_add_arg(&args, "-o") == 0 &&
                 fuse_opt_add_arg(&args, "ro,default_permissions") == 0;
    std::free(named);
    return added;
}

int Serve(fuse_session *session, const MountOptions &options) {
    const fuse_cmdline_opts &cmdline = options.cmdline;
    if (cmdline.singlethread) {
        return fuse_session_loop(session);
    }
#if FUSE_USE_VERSION >= 312
    // The configuration of libfuse 3.12 and later, which knows -o max_threads.
    fuse_loop_config *config = fuse_loop_cfg_create();
    if (config == nullptr) {
        return -ENOMEM;
    }
    fuse_loop_cfg_set_clone_fd(config, static_cast<unsigned>(cmdline.clone_fd));
    if (cmdline.max_idle_threads != UINT_MAX) {
        fuse_loop_cfg_set_idle_threads(config, cmdline.max_idle_threads);
    }
    fuse_loop_cfg_set_max_threads(config, cmdline.max_threads);
    int result = fuse_session_loop_mt(session, config);
    fuse_loop_cfg_destroy(config);
    return result;
#else
    fuse_loop_config config{};
    config.clone_fd = cmdline.clone_fd;
    config.max_idle_threads = cmdline.max_idle_threads;
    return fuse_session_loop_mt(session, &config);
#endif
}

// The loop's result: 0 when the file system was unmounted, the number of the
// signal that ended it, or a negative error.
bool EndedCleanly(int result) {
    return result == 0 || result == SIGINT || result == SIGTERM || result == SIGHUP;
}

} // namespace

int ServeMount(fuse_args &args, const MountOptions &options, MountState &state) {
    if (!AddMountOptions(args, options.package)) {
        return 1;
    }
    const fuse_lowlevel_ops &ops = MountOperations();
    fuse_session *session = fuse_session_new(&args, &ops, sizeof ops, &state);
    if (session == nullptr) {
        return 1;
    }
    int status = 1;
    if (fuse_set_signal_handlers(session) == 0) {
        if (fuse_session_mount(session, options.cmdline.mountpoint) == 0) {
            if (fuse_daemonize(options.cmdline.foreground) == 0) {
                status = EndedCleanly(Serve(session, options)) ? 0 : 1;
            }
            fuse_session_unmount(session);
        }
        fuse_remove_signal_handlers(session);
    }
    fuse_session_destroy(session);
    return status;
}
