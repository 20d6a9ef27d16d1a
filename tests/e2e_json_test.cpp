// --json: the JSON lines, parsed with a strict parser (nlohmann_json: where
// it is missing, this file is left out of the build), carry every name
// losslessly as valid UTF-8.
#include "e2e.h"

#include <nlohmann/json.hpp>
#include <sstream>

namespace {

using ListTest = ExtractTest;

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

} // namespace
