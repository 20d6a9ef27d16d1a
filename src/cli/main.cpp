// kestrun: extracts every entry of an RBD package into a directory tree named
// after the package, under the working directory. A first argument that is
// an option word starts option mode (listing, testing, choosing members...);
// any other command line is the classic run, whose output never changes: the
// words after its package are member patterns, as in option mode.
#include "entries/members.h"
#include "interrupt.h"
#include "loader.h"
#include "options.h"
#include "output/messages.h"
#include "output/shown_text.h"
#include "output/streams.h"
#include "run.h"
#include "run_state.h"
#include "usage.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The classic run, the words after its package being member patterns.
[[noreturn]] void RunClassic(RBDRun &run, int argc, char **argv) {
    RBD_SetUpStreams(run.out, false, false, false);
    std::printf("%s\n", banner);
    if (argc < 2) {
        std::printf("%s", instructions);
        RBD_Exit(0);
    }
    const char *input = argv[1];
    std::vector<const char *> members(argv + 2, argv + argc);
    std::string error;
    if (!RBD_CheckMemberWords(members, error)) {
        // An option after the package would have been taken for a member:
        // nothing is written, rather than everything.
        RBD_Fatal(run.out, "ERROR: %s\n", ShownInMessage(error.c_str()));
    }
    RBD_ChooseMembers(run.members, members, {});
    RBD_ChooseJobs(run, 0);
    RBD_PreparePackage(run, input, true);
    RBD_RemoveCutEntryOnSignals(run.destination.extraction);
    RBDPackage *pack = RBD_LoadPackage(run);
    // The package has served its purpose; releasing it keeps leak checkers quiet.
    RBD_FreePackage(pack);
    RBD_WarnUnmatchedMembers(run.members, run.out);
    std::puts("Done!");
    // A run that warned did not give the tree the package describes, and a
    // script must be able to tell.
    RBD_Exit(run.out.warned ? 2 : 0);
}

} // namespace

int main(int argc, char **argv) {
#ifdef SIGXFSZ
    // A file size limit makes a write fail (EFBIG), which the entry writer
    // reports and cleans up, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // Everything the run keeps, until the process ends.
    RBDRun run{};
    if (argc >= 2 && RBD_IsOptionWord(argv[1])) {
        RBD_RunWithOptions(run, argc, argv);
    }
    RunClassic(run, argc, argv);
}
