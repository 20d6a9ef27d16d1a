#include "exclude.h"

#include "../../src/package/member_pattern.h"

#include <algorithm>
#include <cctype>
#include <cstring>

bool IsExcluded(const std::vector<std::string> &patterns, const std::string &relative) {
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string &pattern) {
        return MatchPattern(pattern.c_str(), relative.c_str());
    });
}

std::string ExcludeArgument(const std::string &relative) {
    std::string pattern;
    for (char c : relative) {
        if (std::strchr("*?[\\", c) != nullptr) {
            pattern += '\\';
        }
        pattern += c;
    }
    bool plain = !pattern.empty();
    for (char c : pattern) {
        auto byte = static_cast<unsigned char>(c);
        if (std::strchr("/._-+,=:@%", c) == nullptr && !(byte < 0x80 && std::isalnum(byte))) {
            plain = false;
        }
    }
    if (plain) {
        return "--exclude " + pattern;
    }
    // Inside single quotes the shell takes every byte as it is but the quote
    // itself, which closes the quotes, is given escaped, and opens them again.
    std::string quoted = "'";
    for (char c : pattern) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return "--exclude " + quoted + "'";
}
