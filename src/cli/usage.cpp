#include "usage.h"

#include "kestrun_version.h"

// The classic run's banner is fixed text, byte for byte what it has always
// been, whatever the version being built: the 1.0.0 in it is part of that
// text, not the version (which -V and --version print).
const char banner[] = "Kestrel Software Presents\n"
                      " kestrun (1.0.0)\n"
                      " Developed by the kestrun authors\n";

const char instructions[] = "Usage: kestrun \"input.rbd\"\n";

namespace {

const char options_text[] =
    "Usage: kestrun PACKAGE [MEMBER]...\n"
    "       kestrun [OPTION]... [--] PACKAGE [MEMBER]...\n"
    "       kestrun [OPTION]... -f PACKAGE [OPTION]... [MEMBER]...\n"
    "\n"
    "Extracts the RBD package PACKAGE into ./NAME/, where NAME is the package's\n"
    "file name less its four-character extension. Options come first; a first\n"
    "argument that is not an option is always a package. Short options bundle:\n"
    "-lq, -qC DIR, -xvf PACKAGE.\n"
    "\n"
    "  -x, --extract          extract (the default)\n"
    "  -l, --list             list each entry, its size and path; write nothing\n"
    "      --json             the list as JSON Lines, then a summary object\n"
    "  -t, --test             check the structure as an extraction would meet\n"
    "                         it (not the contents: see --sha256); write nothing.\n"
    "                         As in unzip: tar's -t is -l here\n"
    "  -i, --info             print the header and the top-level groups\n"
    "  -O, --to-stdout        write the entries' bytes to standard output\n"
    "      --diff=OTHER       compare what extraction would leave of PACKAGE with\n"
    "                         OTHER, a package or a directory (an earlier\n"
    "                         extraction; links in it are never followed, each\n"
    "                         counts as a difference): a line for each path that\n"
    "                         differs, as git diff --name-status prints them:\n"
    "                         A only in PACKAGE, D only in OTHER, M other bytes\n"
    "      --sha256           with -l: sha256sum lines; with --json: a sha256\n"
    "                         field; with -t: read and hash every entry\n"
    "  -C, --directory=DIR    extract into DIR/NAME/ (DIR must exist)\n"
    "  -d, --output=DIR       extract into DIR itself (made if missing)\n"
    "  -k, --keep-old-files   keep whatever already has an entry's name\n"
    "  -j, --jobs=N           extract (or hash, with -t --sha256) with N workers\n"
    "                         at once; the lines, the status and the tree are\n"
    "                         the same with any N.\n"
    "                         Default: KESTRUN_JOBS from the environment, else\n"
    "                         the processors kestrun may run on, at most 8 (1 on\n"
    "                         Windows). -j 1 writes one entry after another\n"
    "  -f, --file=PACKAGE     the package, named among the options as tar's -xf\n"
    "                         and -xvf do; more options may follow it, then\n"
    "                         MEMBERs. A file, never \"-\": it is read at offsets\n"
    "      --exclude=PATTERN  leave out the entries PATTERN matches (repeatable)\n"
    "  -q, --quiet            print warnings and errors only (with --diff, no\n"
    "                         lines: the status tells, at the first difference)\n"
    "  -v, --verbose          print a \"Writing\" line for each entry (the default)\n"
    "      --progress         show the status line, also where standard error is\n"
    "                         not a terminal (a line every second)\n"
    "      --no-progress      never show the status line\n"
    "  -h, --help             print this help\n"
    "  -V, --version          print the version\n"
    "      --                 end the options; the next word is the package\n"
    "\n"
    "MEMBERs are patterns (*, ?, [...]) matched against each entry's path under\n"
    "NAME/, such as 'data/snd/*.wav'; naming a group takes everything below it.\n"
    "Options after the package, or after the first MEMBER, are an error. In\n"
    "option mode standard output carries progress lines or data; warnings and\n"
    "errors go to standard error.\n"
    "\n"
    "Exit status: 0 when done, 2 when done but a warning was printed, 1 after an\n"
    "error. With --diff: 0 when the two are the same, 2 when they differ, 1 after\n"
    "an error; not diff's 1 for a difference, since kestrun's 1 means failure.\n";

} // namespace

void RBD_PrintUsage(FILE *stream) {
    std::fputs(options_text, stream);
}

void RBD_PrintVersion() {
    std::printf("kestrun %s\n", KESTRUN_VERSION);
}
