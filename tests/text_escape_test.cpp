// The two ways names are written out: for terminals and for JSON.
#include "cli/output/json_text.h"
#include "package/escaped_text.h"

#include <gtest/gtest.h>

namespace {

TEST(EscapeControls, EscapesC0DelAndC1RawOrEncodedAndNothingElse) {
    EXPECT_EQ(RBD_EscapeControls("plain name.wav"), "plain name.wav");
    EXPECT_EQ(RBD_EscapeControls("a\tb\x1b[2J\x7f"), "a\\x09b\\x1b[2J\\x7f");
    EXPECT_EQ(RBD_EscapeControls("raw\x85\x9f"), "raw\\x85\\x9f");
    EXPECT_EQ(RBD_EscapeControls("utf\xc2\x85\xc2\x9f"), "utf\\xc2\\x85\\xc2\\x9f");
    // Characters whose encoding holds bytes 0x80-0x9F are no controls.
    EXPECT_EQ(RBD_EscapeControls("\xd1\x80\xc4\x81\xc2\xa0\xe2\x82\xac"),
              "\xd1\x80\xc4\x81\xc2\xa0\xe2\x82\xac");
    // Stray bytes from 0xA0 up are not controls either.
    EXPECT_EQ(RBD_EscapeControls("latin\xe9\xff"), "latin\xe9\xff");
    // A sequence cut short leaves its bytes stray.
    EXPECT_EQ(RBD_EscapeControls("cut\xe2\x82"), "cut\xe2\\x82");
}

TEST(JsonString, MapsEveryNameToValidUtf8Losslessly) {
    EXPECT_EQ(JsonString("a.wav"), "\"a.wav\"");
    EXPECT_EQ(JsonString("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(JsonString("a\\b"), "\"a\\\\\\\\b\"");
    EXPECT_EQ(JsonString("\x01\x1f\x7f"), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(JsonString("\xc2\x9b"), "\"\\u009b\"");
    EXPECT_EQ(JsonString("caf\xc3\xa9 \xf0\x9f\x8e\xb5"), "\"caf\xc3\xa9 \xf0\x9f\x8e\xb5\"");
    EXPECT_EQ(JsonString("\xff\x80"), "\"\\\\xff\\\\x80\"");
    // Overlong forms, surrogates and values past U+10FFFF are stray bytes.
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\\\xc0\\\\xaf\"");
    EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\\\xed\\\\xa0\\\\x80\"");
    EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), "\"\\\\xf4\\\\x90\\\\x80\\\\x80\"");
    EXPECT_EQ(JsonString("\xf4\x8f\xbf\xbf"), "\"\xf4\x8f\xbf\xbf\"");
}

} // namespace
