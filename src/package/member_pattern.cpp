#include "member_pattern.h"

#include <cstring>

namespace {

// Where the set that opens at `open` (a '[') ends: its closing ']', or null
// when there is none.
const char *SetEnd(const char *open) {
    const char *c = open + 1;
    if (*c == '!' || *c == '^') {
        ++c;
    }
    if (*c == ']') {
        ++c;
    }
    return std::strchr(c, ']');
}

bool InSet(const char *open, const char *close, unsigned char c) {
    const char *item = open + 1;
    bool negated = *item == '!' || *item == '^';
    if (negated) {
        ++item;
    }
    bool found = false;
    // The first item is taken before the loop's test, so a leading ']' is
    // a member rather than the end.
    do {
        auto low = static_cast<unsigned char>(*item);
        if (item[1] == '-' && item + 2 < close) {
            found = found || (c >= low && c <= static_cast<unsigned char>(item[2]));
            item += 3;
        } else {
            found = found || c == low;
            ++item;
        }
    } while (item < close);
    return found != negated;
}

// Matches one element of the pattern (not a '*') against the character `c`;
// sets `next` to the element after it.
bool MatchOne(const char *element, char c, const char **next) {
    if (*element == '[') {
        if (const char *close = SetEnd(element)) {
            *next = close + 1;
            return InSet(element, close, static_cast<unsigned char>(c));
        }
    }
    if (*element == '?') {
        *next = element + 1;
        return true;
    }
    if (*element == '\\' && element[1] != '\0') {
        ++element;
    }
    *next = element + 1;
    return *element == c;
}

// MatchPattern for the text from `text` to `end`, so that the paths of an
// entry's groups are matched inside its path, with no copy.
bool MatchUpTo(const char *pattern, const char *text, const char *end) {
    // On a mismatch, the last '*' takes one more character and matching
    // resumes after it: enough for any pattern, with no recursion.
    const char *star = nullptr;
    const char *star_text = nullptr;
    while (text != end) {
        const char *next = nullptr;
        if (*pattern == '*') {
            star = ++pattern;
            star_text = text;
        } else if (*pattern != '\0' && MatchOne(pattern, *text, &next)) {
            pattern = next;
            ++text;
        } else if (star != nullptr) {
            pattern = star;
            text = ++star_text;
        } else {
            return false;
        }
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return *pattern == '\0';
}

} // namespace

bool MatchPattern(const char *pattern, const char *text) {
    return MatchUpTo(pattern, text, text + std::strlen(text));
}

std::string NormalizedPattern(const char *given) {
    std::string pattern = given;
    while (pattern.compare(0, 2, "./") == 0) {
        pattern.erase(0, 2);
    }
    while (!pattern.empty() && pattern.back() == '/') {
        pattern.pop_back();
    }
    return pattern;
}

bool RBD_MemberMatches(const char *pattern, const char *entry_path) {
    size_t length = std::strlen(entry_path);
    for (;;) {
        if (MatchUpTo(pattern, entry_path, entry_path + length)) {
            return true;
        }
        // The path of the group above: the text before the last '/'.
        while (length > 0 && entry_path[length - 1] != '/') {
            --length;
        }
        if (length == 0) {
            return false;
        }
        --length;
    }
}
