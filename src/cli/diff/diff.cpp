#include "diff.h"

#include "../../hostkit/hostkit.h"
#include "../entries/members.h"
#include "../output/messages.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../output/streams.h"
#include "diff_side.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Bytes are compared this many at a time from each side.
const size_t kPiece = size_t{64} * 1024;

struct RBDComparison {
    RBDRun &run;
    RBDDiffSide other;
    RBDDiffSide package;
    std::unique_ptr<char[]> pieces; // one piece of each side, made at the first need
    bool quiet;
    bool differ;
};

// Reads `length` bytes at `at` of an item's bytes into `into`; false when the
// file ended first, which only a file of the tree may do (it changed since
// its size was taken: it is not the entry's bytes).
bool ReadPiece(RBDComparison &c, const RBDDiffSide &side, const RBDDiffBytes &bytes, uint64_t at,
               char *into, size_t length) {
    int64_t got = hkReadAt(bytes.fd, bytes.offset + at, into, length);
    if (got < 0) {
        RBD_FailItemRead(c.run, side, hkGetError());
    }
    if (static_cast<uint64_t>(got) < length && !side.is_tree) {
        RBD_FailItemRead(c.run, side, "the package is shorter than when it was opened");
    }
    return static_cast<uint64_t>(got) == length;
}

bool SameBytes(RBDComparison &c, const RBDDiffBytes &a, const RBDDiffBytes &b) {
    if (a.size != b.size) {
        return false;
    }
    if (a.size > 0 && c.pieces == nullptr) {
        c.pieces.reset(new (std::nothrow) char[2 * kPiece]);
        if (c.pieces == nullptr) {
            RBD_Fatal(c.run.out, "ERROR: Failed to allocate memory to compare bytes, aborting!\n");
        }
    }
    char *piece_a = c.pieces.get();
    char *piece_b = piece_a + kPiece;
    for (uint64_t at = 0; at < a.size;) {
        size_t length = a.size - at < kPiece ? static_cast<size_t>(a.size - at) : kPiece;
        if (!ReadPiece(c, c.other, a, at, piece_a, length) ||
            !ReadPiece(c, c.package, b, at, piece_b, length) ||
            std::memcmp(piece_a, piece_b, length) != 0) {
            return false;
        }
        at += length;
    }
    return true;
}

// Whether the items in hand of both sides, of one path, hold the same bytes.
bool SameItems(RBDComparison &c) {
    RBDDiffBytes a{};
    RBDDiffBytes b{};
    bool same = RBD_OpenItemBytes(c.run, c.other, a) && RBD_OpenItemBytes(c.run, c.package, b) &&
                SameBytes(c, a, b);
    RBD_CloseItemBytes(a);
    RBD_CloseItemBytes(b);
    return same;
}

void Report(RBDComparison &c, char letter, const char *path) {
    c.differ = true;
    if (!c.quiet) {
        std::fprintf(RBD_Product(), "%c\t%s\n", letter, ShownOnStdout(path));
        RBD_LinePrinted(c.run.out);
    }
}

// Merges the two sides' paths, both in byte order; false when it stopped at
// the first difference, as -q asks.
bool Compare(RBDComparison &c) {
    while (c.other.path != nullptr || c.package.path != nullptr) {
        int order = c.other.path == nullptr     ? 1
                    : c.package.path == nullptr ? -1
                                                : std::strcmp(c.other.path, c.package.path);
        if (order < 0) {
            Report(c, 'D', c.other.path);
        } else if (order > 0) {
            Report(c, 'A', c.package.path);
        } else if (!SameItems(c)) {
            Report(c, 'M', c.package.path);
        }
        if (c.differ && c.quiet) {
            return false;
        }
        if (order <= 0) {
            RBD_NextOnSide(c.run, c.other);
        }
        if (order >= 0) {
            RBD_NextOnSide(c.run, c.package);
        }
    }
    return true;
}

} // namespace

void RBD_RunDiff(RBDRun &run, const RBDOptions &options) {
    RBDComparison c{run, {}, {}, nullptr, options.quiet, false};
    RBD_OpenSide(run, c.other, options.diff_other, true);
    RBD_OpenSide(run, c.package, options.package, false);
    bool whole = Compare(c);
    RBD_CloseSide(c.other);
    RBD_CloseSide(c.package);
    // A pattern that matched nothing may match past the first difference.
    if (whole) {
        RBD_WarnUnmatchedMembers(run.members, run.out);
    }
    RBD_FinishProduct(run.out);
    // Warnings don't change it: the status says whether the two differ.
    RBD_Exit(c.differ ? 2 : 0);
}
