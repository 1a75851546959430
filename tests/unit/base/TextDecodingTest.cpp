// Reading text in the encodings subtitle files come in; these run on Windows too, where
// legacy encodings go through the system's code pages.
#include "base/TextDecoding.h"

#include <gtest/gtest.h>

using namespace pelldrin;

namespace {

const std::string kText = "Zo\xC3\xAB \xE4\xB8\xAD"; // "Zoë 中"

TEST(TextDecoding, UnicodeFormsAreReadWithOrWithoutByteOrderMarks) {
    const std::string le("Z\0o\0\xEB\0\x20\0\x2D\x4E", 10);
    const std::string be("\0Z\0o\0\xEB\0\x20\x4E\x2D", 10);
    const std::string le32("Z\0\0\0o\0\0\0\xEB\0\0\0\x20\0\0\0\x2D\x4E\0\0", 20);
    const std::string be32("\0\0\0Z\0\0\0o\0\0\0\xEB\0\0\0\x20\0\0\x4E\x2D", 20);
    struct Case {
        std::string bytes, encoding;
    };
    for (const Case& c : std::vector<Case>{
             {"\xFF\xFE" + le, "UTF-16LE"},
             {"\xFE\xFF" + be, "UTF-16BE"},
             {std::string("\xFF\xFE\0\0", 4) + le32, "UTF-32LE"},
             {std::string("\0\0\xFE\xFF", 4) + be32, "UTF-32BE"},
             {le32, "UTF-32LE"},
             {be32, "UTF-32BE"},
             {"\xEF\xBB\xBF" + kText, "UTF-8"},
             {kText, "UTF-8"},
         }) {
        SCOPED_TRACE(c.encoding);
        const DecodedText d = DecodeText(c.bytes);
        EXPECT_EQ(d.text, kText);
        EXPECT_EQ(d.encoding, c.encoding);
        EXPECT_FALSE(d.legacy);
    }
    // Without a byte-order mark the zero bytes of ASCII characters give UTF-16's order.
    std::string leBare;
    std::string beBare;
    for (const char c : std::string("1\r\n00:00:01,000 --> 00:00:02,000\r\n")) {
        leBare += std::string{c, '\0'};
        beBare += std::string{'\0', c};
    }
    const std::string srt = "1\r\n00:00:01,000 --> 00:00:02,000\r\n\xE4\xB8\xAD";
    EXPECT_EQ(DecodeText(leBare + std::string("\x2D\x4E", 2)).text, srt);
    EXPECT_EQ(DecodeText(beBare + std::string("\x4E\x2D", 2)).text, srt);
    // A charset names the form; its own byte-order mark is dropped.
    EXPECT_EQ(DecodeText("\xFF\xFE" + le, "utf-16").text, kText);
    EXPECT_EQ(DecodeText(be, "UTF16BE").text, kText);
}

TEST(TextDecoding, LegacyEncodingsConvertAndTheGuessIsAskedOnlyForWhatIsNotUtf8) {
    struct Case {
        std::string encoding, bytes, utf8;
    };
    for (const Case& c : std::vector<Case>{
             {"GB18030", "\xC4\xE3\xBA\xC3", "\xE4\xBD\xA0\xE5\xA5\xBD"},
             {"CP950", "\xA7\x41\xA6\x6E", "\xE4\xBD\xA0\xE5\xA5\xBD"},
             {"CP932", "\x82\xB1\x82\xF1\x93\xFA", "\xE3\x81\x93\xE3\x82\x93\xE6\x97\xA5"},
             {"WINDOWS-1251", "\xCF\xF0\xE8\xE2\xE5\xF2",
              "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
             {"WINDOWS-1256", "\xE3\xD1\xCD\xC8\xC7", "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7"},
             {"WINDOWS-1252", "caf\xE9 \x93ok\x94", "caf\xC3\xA9 \xE2\x80\x9Cok\xE2\x80\x9D"},
         }) {
        SCOPED_TRACE(c.encoding);
        EXPECT_EQ(ConvertToUtf8(c.bytes, c.encoding), c.utf8);
        int asked = 0;
        const EncodingGuess guess = [&](std::string_view) {
            ++asked;
            return c.encoding;
        };
        const DecodedText d = DecodeText("a " + c.bytes, {}, guess);
        EXPECT_EQ(d.text, "a " + c.utf8);
        EXPECT_EQ(d.encoding, c.encoding);
        EXPECT_TRUE(d.legacy);
        EXPECT_EQ(DecodeText(kText, {}, guess).text, kText);
        EXPECT_EQ(asked, 1);
    }
    // Without a guess, bytes that are not UTF-8 are kept for readers of their ASCII.
    const DecodedText kept = DecodeText("12:00 \xC4\xE3");
    EXPECT_EQ(kept.text, "12:00 \xC4\xE3");
    EXPECT_TRUE(kept.encoding.empty());
}

TEST(TextDecoding, BytesThatDoNotReadGiveTheirOffset) {
    const auto offset = [](std::string_view bytes, std::string_view charset,
                           const EncodingGuess& guess = {}) -> long long {
        try {
            DecodeText(bytes, charset, guess);
        } catch (const TextDecodeError& e) {
            EXPECT_NE(std::string(e.what()).find("byte offset " + std::to_string(e.Offset())),
                      std::string::npos)
                << e.what();
            return static_cast<long long>(e.Offset());
        }
        return -1;
    };
    EXPECT_EQ(offset("line one\nline \x82\xA0 two \x82\x7F", "SHIFT_JIS"), 21);
    EXPECT_EQ(offset("abc\xFF", "UTF-8"), 3);
    EXPECT_EQ(offset("\xEF\xBB\xBF"
                     "abc\xC3(",
                     {}),
              6); // counted from the file's start
    const auto noGuess = [](std::string_view) { return std::string(); };
    EXPECT_EQ(offset("ab\xC4\xE3", {}, noGuess), 2);
    EXPECT_THROW(ConvertToUtf8("abc", "NO-SUCH-CODE"), TextDecodeError);
}

} // namespace
