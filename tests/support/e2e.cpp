#include "e2e.h"

#include <filesystem>

const char kBanner[] = "Kestrel Software Presents\n"
                       " kestrun (" KESTRUN_EXPECTED_VERSION ")\n"
                       " Developed by the kestrun authors\n"
                       "\n";

void ExtractTest::SetUp() {
    std::filesystem::create_directory(scratch_ / "work");
}

RunResult ExtractTest::RunBytes(const std::string &bytes, const std::string &name,
                                const RunOptions &options) {
    EXPECT_TRUE(WriteBytes(Work(name), bytes));
    return RunKestrun(scratch_ / "work", {name}, options);
}

RunResult ExtractTest::RunLayout(const PackLayout &layout, const std::string &name,
                                 const RunOptions &options) {
    return RunBytes(BuildPackage(layout), name, options);
}

RunResult ExtractTest::RunWith(const PackLayout &layout, const std::vector<std::string> &args,
                               const RunOptions &options) {
    EXPECT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    return RunKestrun(scratch_ / "work", args, options);
}

std::string ExtractTest::Work(const std::string &relative) const {
    return scratch_ / ("work/" + relative);
}

std::vector<std::string> ExtractTest::Tree(const std::string &root) const {
    return ListTree(Work(root));
}

void ExtractTest::ExpectNothingOutsideWork() const {
    for (const std::string &path : ListTree(scratch_.path())) {
        EXPECT_EQ(path.rfind("work/", 0), 0u) << "written outside the working directory: " << path;
    }
}

std::string WritingLine(const std::string &group_path, const std::string &name) {
    return "Writing \"pkg/" + group_path + name + "\"...\n";
}

PackLayout SoundAndText() {
    PackLayout layout;
    layout.entries = {DirectoryGroup("data", 2),  FileGroup("snd", 2),
                      FileEntry("a.wav", "aaaa"), FileEntry("b.wav", "bb"),
                      FileGroup("txt", 1),        FileEntry("readme.txt", "read me\n")};
    return layout;
}
