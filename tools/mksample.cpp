// Writes a small, well-formed sample package to try kestrun on.
#include "../src/packwriter/rbd_writer.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::printf("Usage: mksample OUTPUT.rbd\n");
        return argc == 1 ? 0 : 1;
    }
    PackLayout layout;
    layout.entries = {
        DirectoryGroup("data", 2),
        FileGroup("snd", 2),
        FileEntry("a.wav", "RIFF....WAVEfmt, a short beep\n"),
        FileEntry("b.wav", "RIFF....WAVEfmt, a longer boop\n"),
        FileGroup("txt", 1),
        FileEntry("readme.txt", "This tree came out of sample.rbd.\n"),
        FileGroup("sfx", 1),
        FileEntry("boom.wav", "RIFF....WAVEfmt, boom\n"),
    };
    if (!WriteBytes(argv[1], BuildPackage(layout))) {
        std::printf("ERROR: Failed to write \"%s\"!\n", argv[1]);
        return 1;
    }
    std::printf("Wrote sample package \"%s\".\n", argv[1]);
    return 0;
}
