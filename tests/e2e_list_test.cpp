// --list and --json: every entry in index order, nothing written, messages
// apart from the data.
#include "e2e.h"

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

using ListTest = ExtractTest;

TEST_F(ListTest, ListShowsSizeAndPathOfEveryEntryAndWritesNothing) {
    for (const char *option : {"-l", "--list"}) {
        RunResult run = RunWith(SoundAndText(), {option, "pkg.rbd"});
        EXPECT_EQ(run.out, "         4  data/snd/a.wav\n"
                           "         2  data/snd/b.wav\n"
                           "         8  data/txt/readme.txt\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});
    }
}

TEST_F(ListTest, ListOfChosenMembersWarnsOnStandardErrorAboutPatternsThatMatchNothing) {
    RunResult run = RunWith(SoundAndText(), {"-l", "pkg.rbd", "data/s?d/[!b]*", "*.txt", "none"});
    EXPECT_EQ(run.out, "         4  data/snd/a.wav\n"
                       "         8  data/txt/readme.txt\n");
    EXPECT_EQ(run.err, "WARNING: No entry matches \"none\"!\n");
    EXPECT_EQ(run.status, 2);
}

// Reverses the mapping of names into JSON strings: "\\" is one backslash,
// "\xHH" one byte.
std::string OriginalBytes(const std::string &decoded) {
    std::string bytes;
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (decoded[i] == '\\' && decoded.at(i + 1) == '\\') {
            bytes += '\\';
            ++i;
        } else if (decoded[i] == '\\' && decoded.at(i + 1) == 'x') {
            bytes += static_cast<char>(std::stoi(decoded.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += decoded[i];
        }
    }
    return bytes;
}

std::vector<nlohmann::json> ParseLines(const std::string &text) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line)); // throws on anything invalid
    }
    return objects;
}

TEST_F(ListTest, JsonCarriesEveryNameLosslesslyAsValidUtf8) {
    const std::string group = "gr\x80up";
    const std::vector<std::string> names = {
        "plain.txt", "caf\xc3\xa9", "bad\xff\xfe", "esc\x1b[2J\x01", "back\\slash\\x41",
        "quote\"",   "c1\xc2\x9b",  "del\x7f",     "cut\xe2\x82",    "surrogate\xed\xa0\x80"};
    PackLayout layout;
    layout.entries.push_back(FileGroup(group, static_cast<uint32_t>(names.size())));
    for (const std::string &name : names) {
        layout.entries.push_back(FileEntry(name, name + name));
    }
    std::vector<uint64_t> offsets = LayOutData(layout);
    for (const char *option : {"--json", "-l"}) {
        std::vector<std::string> args = {option, "pkg.rbd"};
        if (std::string(option) == "-l") {
            args.insert(args.begin(), "--json");
        }
        RunResult run = RunWith(layout, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        std::vector<nlohmann::json> objects = ParseLines(run.out);
        ASSERT_EQ(objects.size(), names.size() + 1);
        uint64_t total = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            const nlohmann::json &entry = objects[i];
            SCOPED_TRACE(names[i]);
            EXPECT_EQ(OriginalBytes(entry.at("name")), names[i]);
            EXPECT_EQ(OriginalBytes(entry.at("group")), group + "/");
            EXPECT_EQ(OriginalBytes(entry.at("path")), group + "/" + names[i]);
            EXPECT_EQ(entry.at("size"), 2 * names[i].size());
            EXPECT_EQ(entry.at("offset"), offsets[i + 1]);
            total += 2 * names[i].size();
        }
        // No raw control byte reaches the output either.
        for (char c : run.out) {
            EXPECT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F));
        }
        const nlohmann::json &summary = objects.back();
        uint64_t package_size = BuildPackage(layout).size();
        EXPECT_EQ(summary.at("entries"), names.size());
        EXPECT_EQ(summary.at("groups"), 1);
        EXPECT_EQ(summary.at("total_bytes"), total);
        EXPECT_EQ(summary.at("package_size"), package_size);
        EXPECT_NEAR(summary.at("expansion").get<double>(),
                    static_cast<double>(total) / static_cast<double>(package_size), 0.0001);
    }
}

// Every face names an entry by the path that extraction writes below the
// output root, whatever empty group names the package spells; the classic
// run alone shows the package's own group paths, as it always has.
TEST_F(ListTest, EmptyGroupNamesAreListedAndChosenWhereExtractionWritesThem) {
    const PackLayout layout = EmptyGroupNames();
    RunResult classic = RunWith(layout, {"pkg.rbd"});
    EXPECT_EQ(classic.out, kBanner + WritingLine("/etc/", "passwd") + WritingLine("a/", "x") +
                               WritingLine("a//", "x") + WritingLine("/", "a/x") +
                               "WARNING: Refusing unsafe path, \"/a/x\"!\n"
                               "Reached end of package indices.\nDone!\n");
    EXPECT_EQ(classic.status, 2);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a/", "a/x", "etc/", "etc/passwd"}));
    EXPECT_EQ(ReadFile(Work("pkg/a/x")), "a//x, written over a/x\n");
    ExpectNothingOutsideWork();

    EXPECT_EQ(RunWith(layout, {"-l", "pkg.rbd"}).out, "        15  etc/passwd\n"
                                                      "        14  a/x\n"
                                                      "        23  a/x\n"
                                                      "        24  a/x\n");
    std::vector<nlohmann::json> objects = ParseLines(RunWith(layout, {"--json", "pkg.rbd"}).out);
    ASSERT_EQ(objects.size(), 5u);
    const char *groups[] = {"etc/", "a/", "a/", ""};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(objects[i].at("group"), groups[i]) << i;
        EXPECT_EQ(objects[i].at("path"), objects[i].at("group").get<std::string>() +
                                             objects[i].at("name").get<std::string>());
    }

    // Only what the extraction left is summed: the last a/x, which the
    // unsafe one after it does not replace; sha256sum -c passes on it.
    RunResult sums = RunWith(layout, {"-l", "--sha256", "pkg.rbd"});
    EXPECT_EQ(sums.status, 0);
    EXPECT_EQ(sums.out,
              "25d6ed56d964d4fc33d4779bc67aac8b688728d365ad854530e7718a1f4b0270  etc/passwd\n"
              "dc5defcea1934ddcdd3e62f355288965fd43fdee95bd9d8ed3852fda5d280211  a/x\n");
    ASSERT_TRUE(WriteBytes(Work("sums"), sums.out));
    std::string check = "cd '" + Work("pkg") + "' && sha256sum --quiet --strict -c ../sums";
    EXPECT_EQ(std::system(check.c_str()), 0);

    // Members and exclusions match those paths.
    RunResult chosen = RunWith(layout, {"-l", "--exclude", "a", "pkg.rbd", "etc/passwd", "/etc"});
    EXPECT_EQ(chosen.out, "        15  etc/passwd\n");
    EXPECT_EQ(chosen.err, "WARNING: No entry matches \"/etc\"!\n");
    std::filesystem::remove_all(Work("pkg"));
    RunResult member = RunWith(layout, {"-x", "pkg.rbd", "etc"});
    EXPECT_EQ(member.out,
              WritingLine("etc/", "passwd") + "Reached end of package indices.\nDone!\n");
    EXPECT_EQ(member.status, 0);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"etc/", "etc/passwd"}));
}

} // namespace
