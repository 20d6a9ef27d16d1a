// kestrun: extracts every entry of an RBD package into a directory tree named
// after the package, under the working directory.
#include "hostkit/hostkit.h"
#include "kestrun_version.h"
#include "package/loader.h"
#include "package_name.h"
#include "types.h"

#include <csignal>
#include <cstdio>

namespace {

const char banner[] = "Kestrel Software Presents\n"
                      " kestrun (" KESTRUN_VERSION ")\n"
                      " Developed by the kestrun authors\n";

const char instructions[] = "Usage: kestrun \"input.rbd\"\n";

} // namespace

int main(int argc, char **argv) {
#ifdef SIGXFSZ
    // A file size limit makes a write fail (EFBIG), which the entry writer
    // reports and cleans up, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    std::printf("%s\n", banner);
    if (argc < 2) {
        std::printf("%s", instructions);
        RBD_Exit(0);
    }

    const char *input = argv[1];
    if (!hkFileExists(input)) {
        std::printf("ERROR: Failed to find \"%s\", aborting!\n%s\n", input, hkGetError());
        RBD_Exit(1);
    }
    const char *filename = hkGetFileName(input);
    if (!SetPackageName(filename)) {
        std::printf("ERROR: Invalid package name \"%s\", aborting!\n", filename);
        RBD_Exit(1);
    }
    hkInitialize(argc, argv);

    RBDPackage *pack = RBD_LoadPackage(input);
    if (pack == nullptr) {
        std::printf("ERROR: Failed to load RBD package \"%s\", aborting!\n", input);
        RBD_Exit(1);
    }
    // The package has served its purpose; releasing it keeps leak checkers quiet.
    RBD_FreePackage(pack);
    std::puts("Done!");
    // A run that warned did not give the tree the package describes, and a
    // script must be able to tell.
    RBD_Exit(warnings_printed ? 2 : 0);
}
