// Writes the fuzzer's seed packages into a directory: well-formed ones, nested
// ones, and one for each way a package can fail. The outputs are committed in
// fuzz/corpus/; run this again only to change them.
#include "../src/packwriter/rbd_writer.h"

#include <cstdio>
#include <string>

namespace {

const uint32_t kUnknownGroup = 0x02000000;

std::string out_dir;
int failures;

void Put(const std::string &name, const std::string &bytes) {
    if (!WriteBytes(out_dir + "/" + name, bytes)) {
        std::printf("ERROR: Failed to write \"%s\"!\n", name.c_str());
        ++failures;
    }
}

void Put(const std::string &name, const PackLayout &layout) {
    Put(name, BuildPackage(layout));
}

// The fuzz target reads bit 0 of header byte 3 (unused by kestrun) to name
// the package with four characters, so that the output root is empty.
std::string WithEmptyRoot(std::string bytes) {
    bytes[3] = static_cast<char>(bytes[3] | 1);
    return bytes;
}

PackLayout Nested() {
    PackLayout layout;
    layout.entries = {
        DirectoryGroup("data", 2),  FileGroup("snd", 2),
        FileEntry("a.wav", "aaaa"), FileEntry("b.wav", "bbbbbbbb"),
        FileGroup("txt", 1),        FileEntry("readme.txt", "read me\n"),
        FileGroup("sfx", 1),        FileEntry("boom.wav", "boom"),
    };
    return layout;
}

void WellFormed() {
    PackLayout flat;
    flat.entries = {FileGroup("sfx", 3), FileEntry("one", "1"), FileEntry("two", "22"),
                    FileEntry("empty", "")};
    Put("flat.rbd", flat);
    Put("nested.rbd", Nested());
    Put("nested-empty-root.rbd", WithEmptyRoot(BuildPackage(Nested())));

    PackLayout deep;
    for (int i = 0; i < 20; ++i) {
        deep.entries.push_back(DirectoryGroup("d" + std::to_string(i), 1));
    }
    deep.entries.push_back(FileGroup("leaf", 1));
    deep.entries.push_back(FileEntry("deep.txt", "deep"));
    Put("deep.rbd", deep);

    PackLayout same;
    same.entries = {FileGroup("g", 2), FileEntry("x", "first"), FileEntry("x", "second")};
    Put("overwrite.rbd", same);

    PackLayout zero_group;
    zero_group.entries = {FileGroup("none", 0), FileGroup("one", 1), FileEntry("f", "f")};
    Put("empty-file-group.rbd", zero_group);
}

void HeaderFailures() {
    Put("short-header.rbd", EncodeHeader(1).substr(0, 1000));
    Put("zero-count.rbd", EncodeHeader(0));
    Put("bad-version.rbd", EncodeHeader(3, 0x10));
    Put("bad-comment.rbd", EncodeHeader(3, 2, "Copyright 1999"));
    Put("comment-no-zero.rbd", EncodeHeader(3, 2, std::string(header_msg) + "!"));
    Put("count-one.rbd", EncodeHeader(1));
}

void IndexFailures() {
    PackLayout trailing;
    trailing.entries = {FileGroup("a", 1), FileEntry("f", "f"), FileGroup("late", 0)};
    trailing.header_count = 3;
    Put("trailing-group.rbd", trailing);

    PackLayout overrun;
    overrun.entries = {DirectoryGroup("top", 2), FileGroup("a", 3),   FileEntry("1", "1"),
                       FileEntry("2", "2"),      FileEntry("3", "3"), FileGroup("b", 0)};
    overrun.header_count = 3;
    Put("file-group-overruns-count.rbd", overrun);

    PackLayout orphan;
    orphan.entries = {DirectoryGroup("dir", 3), FileGroup("a", 0)};
    Put("missing-child.rbd", orphan);

    PackLayout unknown;
    unknown.entries = {FileGroup("a", 1), FileEntry("f", "f"), PackEntry{}, FileGroup("b", 1),
                       FileEntry("g", "g")};
    unknown.entries[2].flags = kUnknownGroup;
    unknown.entries[2].name = "odd";
    Put("unknown-flag.rbd", unknown);

    Put("short-group-record.rbd",
        EncodeHeader(5) + EncodeGroupRecord(RBD_FILE_GROUP, 1, 1, "a") + std::string(40, 'x'));
    Put("short-file-table.rbd", EncodeHeader(5) + EncodeGroupRecord(RBD_FILE_GROUP, 3, 3, "a") +
                                    EncodeFileRecord(0, 0, "f"));
    Put("huge-file-table.rbd",
        EncodeHeader(0xFFFFFFFF) + EncodeGroupRecord(RBD_FILE_GROUP, 0xFFFFFFFF, 0, "a"));
    Put("huge-directory.rbd", EncodeHeader(0xFFFFFFFF) +
                                  EncodeGroupRecord(RBD_DIRECTORY_GROUP, 0xFFFFFFFF, 0, "d") +
                                  EncodeGroupRecord(kUnknownGroup, 0, 0, "u"));

    PackLayout too_deep;
    for (int i = 0; i < 140; ++i) {
        too_deep.entries.push_back(DirectoryGroup("d", 1));
    }
    too_deep.entries.push_back(FileGroup("f", 0));
    Put("path-too-long.rbd", too_deep);
}

void EntryFailures() {
    PackLayout entries;
    entries.entries = {FileGroup("g", 5),     FileEntry("past-end", "x"),  FileEntry("far", "y"),
                       FileEntry("zero", ""), FileEntry("after", "after"), FileEntry("max", "m")};
    entries.entries[1].size = 100000;
    entries.entries[2].offset = 0xFFFFFFFF;
    entries.entries[5].size = 0xFFFFFFFF;
    entries.entries[5].offset = 0xFFFFFFFF;
    Put("entry-out-of-range.rbd", entries);

    std::string long_name(70, 'n');
    PackLayout names;
    names.entries = {FileGroup("g", 8),         FileEntry("..", "a"),   FileEntry(".", "b"),
                     FileEntry("a/b", "c"),     FileEntry("a\\b", "d"), FileEntry("C:x", "e"),
                     FileEntry(long_name, "f"), FileEntry("/abs", "g"), FileEntry("", "h")};
    Put("unsafe-file-names.rbd", names);

    PackLayout groups;
    groups.entries = {DirectoryGroup("..", 1), FileGroup("in", 1),  FileEntry("f", "f"),
                      FileGroup("a/b", 1),     FileEntry("g", "g"), FileGroup(long_name, 1),
                      FileEntry("h", "h")};
    Put("unsafe-group-names.rbd", groups);
    Put("unsafe-group-names-empty-root.rbd", WithEmptyRoot(BuildPackage(groups)));

    // Empty group names, which extraction passes over: "/etc/", and "a//x"
    // written over a/x, before an unsafe "a/x" in a group named "".
    PackLayout empty_names;
    empty_names.entries = {DirectoryGroup("", 1), FileGroup("etc", 1), FileEntry("passwd", "p"),
                           FileGroup("a", 1),     FileEntry("x", "1"), DirectoryGroup("a", 1),
                           FileGroup("", 1),      FileEntry("x", "2"), FileGroup("", 1),
                           FileEntry("a/x", "3")};
    Put("empty-group-names.rbd", empty_names);

    PackLayout clash;
    clash.entries = {DirectoryGroup("a", 2), FileGroup("b", 1), FileEntry("c", "c"),
                     FileGroup("c", 0),      FileGroup("a", 1), FileEntry("b", "b")};
    Put("file-directory-clash.rbd", clash);

    PackLayout long_path;
    for (int i = 0; i < 3; ++i) {
        long_path.entries.push_back(DirectoryGroup(std::string(62, static_cast<char>('a' + i)), 1));
    }
    long_path.entries.push_back(FileGroup(std::string(60, 'z'), 1));
    long_path.entries.push_back(FileEntry(std::string(40, 'f'), "x"));
    Put("output-path-too-long.rbd", long_path);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::printf("Usage: make_corpus OUTPUT_DIRECTORY\n");
        return 1;
    }
    out_dir = argv[1];
    WellFormed();
    HeaderFailures();
    IndexFailures();
    EntryFailures();
    return failures == 0 ? 0 : 1;
}
