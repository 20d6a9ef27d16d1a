#include "messages.h"

#include "exclude.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

void Fail(const std::string &line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::exit(1);
}

std::string Reason(int error) {
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

void PrintRefusals(const std::vector<TreeRefusal> &refusals, const char *rest) {
    std::string leave_out;
    for (const TreeRefusal &refusal : refusals) {
        if (!refusal.relative.empty()) {
            leave_out += (leave_out.empty() ? "" : " ") + ExcludeArgument(refusal.relative);
        }
    }
    if (refusals.size() == 1) {
        std::fprintf(stderr, "ERROR: %s, aborting!\n", refusals.front().text.c_str());
        if (!leave_out.empty()) {
            std::fprintf(stderr, "%s without it, add: %s\n", rest, leave_out.c_str());
        }
        return;
    }
    for (const TreeRefusal &refusal : refusals) {
        std::fprintf(stderr, "ERROR: %s!\n", refusal.text.c_str());
    }
    std::fprintf(stderr, "ERROR: %zu paths refused, aborting!\n", refusals.size());
    if (!leave_out.empty()) {
        std::fprintf(stderr, "%s without them, add: %s\n", rest, leave_out.c_str());
    }
}

void CheckTreeFor(const std::string &dir, const std::string &package, const char *verb) {
    std::error_code ec;
    bool is_directory = std::filesystem::is_directory(dir, ec);
    if (ec) {
        Fail("ERROR: Failed to read \"" + dir + "\": " + ec.message() + ", aborting!");
    }
    if (!is_directory) {
        Fail("ERROR: Not a directory, \"" + dir + "\", aborting!");
    }
    if (IsInsideTree(package, dir)) {
        Fail("ERROR: Package inside the tree it " + std::string(verb) + ", \"" + package +
             "\", aborting!");
    }
}
