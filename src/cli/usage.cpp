#include "usage.h"

#include "kestrun_version.h"

const char banner[] = "Kestrel Software Presents\n"
                      " kestrun (" KESTRUN_VERSION ")\n"
                      " Developed by the kestrun authors\n";

const char instructions[] = "Usage: kestrun \"input.rbd\"\n";

namespace {

const char options_text[] =
    "Usage: kestrun PACKAGE\n"
    "       kestrun [OPTION]... [--] PACKAGE [MEMBER]...\n"
    "\n"
    "Extracts every entry of the RBD package PACKAGE into ./NAME/, where NAME is\n"
    "the package's file name less its four-character extension. Options come\n"
    "first; a first argument that is not an option is always a package.\n"
    "\n"
    "  -l, --list           list each entry, its size and path; write nothing\n"
    "      --json           the list as JSON Lines, then a summary object\n"
    "  -t, --test           check what an extraction would meet; write nothing\n"
    "  -i, --info           print the header and the top-level groups\n"
    "  -C, --directory=DIR  extract into DIR/NAME/ (DIR must exist)\n"
    "  -O, --to-stdout      write the entries' bytes to standard output\n"
    "  -q, --quiet          print no \"Writing\" lines\n"
    "  -h, --help           print this help\n"
    "  -V, --version        print the version\n"
    "      --               end the options; the next word is the package\n"
    "\n"
    "MEMBERs are patterns (*, ?, [...]) matched against each entry's path under\n"
    "NAME/, such as 'data/snd/*.wav'; naming a group takes everything below it.\n"
    "With -l, --json and -O the output is data and messages go to standard error.\n"
    "\n"
    "Exit status: 0 when done, 2 when done but a warning was printed, 1 after an\n"
    "error.\n";

} // namespace

void RBD_PrintUsage(FILE *stream) {
    std::fputs(options_text, stream);
}

void RBD_PrintVersion() {
    std::printf("kestrun %s\n", KESTRUN_VERSION);
}
