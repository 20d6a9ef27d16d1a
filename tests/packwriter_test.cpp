// The package writer's streaming mode must give the very bytes that the
// in-memory build gives, whatever the entries are read from.
#include "rbd_writer.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

PackEntry FromFile(const TempDir &dir, const std::string &name, const std::string &data) {
    EXPECT_TRUE(WriteBytes(dir / name, data));
    PackEntry entry = FileEntry(name, "");
    entry.source = dir / name;
    entry.source_size = data.size();
    return entry;
}

// Streams `layout` into a file and returns its bytes, or "failed: <source>".
std::string Stream(const TempDir &dir, const PackLayout &layout) {
    FILE *out = std::fopen((dir / "out.rbd").c_str(), "wb");
    std::string failed_source;
    bool written = StreamPackage(layout, out, failed_source);
    std::fclose(out);
    return written ? ReadFile(dir / "out.rbd") : "failed: " + failed_source;
}

TEST(PackWriterTest, StreamingGivesTheSameBytesAsBuildingInMemory) {
    TempDir dir;
    std::string big(3 << 20, 'b'); // more than one copying piece
    big[0] = 'B';
    big.back() = 'E';
    PackLayout in_memory;
    in_memory.entries = {DirectoryGroup("d", 1),   FileGroup("f", 3),      FileEntry("one", "1"),
                         FileEntry("big", big),    FileEntry("empty", ""), FileGroup("g", 1),
                         FileEntry("last", "last")};
    PackLayout streamed = in_memory;
    streamed.entries[2] = FromFile(dir, "one", "1");
    streamed.entries[3] = FromFile(dir, "big", big);
    streamed.entries[6] = FromFile(dir, "last", "last");
    EXPECT_EQ(Stream(dir, streamed), BuildPackage(in_memory));
}

TEST(PackWriterTest, LaysOutDataAfterTheIndexInIndexOrder) {
    PackLayout layout;
    layout.entries = {FileGroup("f", 2), FileEntry("a", "abc"), FileEntry("b", "de")};
    std::vector<uint64_t> offsets = LayOutData(layout);
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 1024 + 3 * 96, 1024 + 3 * 96 + 3}));
    PackEntry huge = FileEntry("h", "");
    huge.source = "unused";
    huge.source_size = uint64_t{5} << 30;
    layout.entries.insert(layout.entries.begin() + 1, huge);
    // Offsets past 32 bits are reported whole, for the caller to refuse.
    EXPECT_EQ(LayOutData(layout)[2], 1024 + 4 * 96 + (uint64_t{5} << 30));
}

TEST(PackWriterTest, ASourceThatChangedSizeOrVanishedFails) {
    TempDir dir;
    PackLayout layout;
    layout.entries = {FileGroup("f", 1), FromFile(dir, "grew", "12345")};
    layout.entries[1].source_size = 4;
    EXPECT_EQ(Stream(dir, layout), "failed: " + (dir / "grew"));
    layout.entries[1].source_size = 6;
    EXPECT_EQ(Stream(dir, layout), "failed: " + (dir / "grew"));
    layout.entries[1].source = dir / "missing";
    EXPECT_EQ(Stream(dir, layout), "failed: " + (dir / "missing"));
}

} // namespace
