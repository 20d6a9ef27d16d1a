// The member patterns' matcher.
#include "package/member_pattern.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *pattern;
    const char *text;
    bool matches;
};

TEST(MatchPattern, ShellStyleWithSlashesMatchedLikeAnyCharacter) {
    const Case cases[] = {
        {"data/snd/a.wav", "data/snd/a.wav", true},
        {"data/snd/a.wav", "data/snd/a.wa", false},
        {"data/snd", "data/snd/a.wav", false},
        {"*", "", true},
        {"*.wav", "data/snd/a.wav", true},
        {"*.wav", "data/snd/a.wav.bak", false},
        {"data/*/a.*", "data/snd/x/a.wav", true},
        {"*a*b*c", "xaxxbxxxbc", true},
        {"*a*b*c", "xaxxbxxxbcd", false},
        {"?", "", false},
        {"a?c", "a/c", true},
        {"[ab].wav", "b.wav", true},
        {"[a-c][!0-9]", "c9", false},
        {"[a-c][^0-9]", "cx", true},
        {"[]x]", "]", true},
        {"[!]]", "]", false},
        {"[a-]", "-", true},
        {"[", "[", true},
        {"a[b", "a[b", true},
        {"\\*", "*", true},
        {"\\*", "x", false},
        {"\\?\\[", "?[", true},
        {"tail\\", "tail\\", true},
        {"\xc3\xa9*", "\xc3\xa9t\xc3\xa9", true},
        {"[\x80-\xff]", "\xe9", true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(MatchPattern(c.pattern, c.text), c.matches) << c.pattern << " ~ " << c.text;
    }
}

} // namespace
