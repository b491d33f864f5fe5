#include "ui/text_encoding.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace {

// An exact-size heap copy: a decoder reading past a cut-off sequence trips
// the address sanitizer.
std::vector<char> exact(std::string_view text) { return {text.begin(), text.end()}; }
std::string_view view(const std::vector<char>& bytes) { return {bytes.data(), bytes.size()}; }

TEST(TextEncoding, WholeCp1251RangeRoundTripsThroughUtf8AndUtf16) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
    std::string expected = all;
    expected[0x98] = '?';  // unassigned: U+FFFD, which Windows-1251 lacks
    const std::string utf8 = utf8_from_cp1251(all);
    EXPECT_EQ(text_kind(utf8), TextKind::utf8);
    EXPECT_EQ(cp1251_from_utf8(utf8), expected);
    std::u16string wide;
    ASSERT_TRUE(utf16_from_utf8(utf8, wide));
    EXPECT_EQ(wide, utf16_from_cp1251(all));
    EXPECT_EQ(utf8_from_utf16(wide), utf8);
    // The table itself, where a shift would show.
    for (auto [byte, code] : {std::pair{0x80, 0x0402}, {0x88, 0x20AC}, {0x98, 0xFFFD}, {0xA8, 0x0401},
                              {0xB8, 0x0451}, {0xB9, 0x2116}, {0xBF, 0x0457}, {0xC0, 0x0410}, {0xFF, 0x044F}})
        EXPECT_EQ(wide[byte], code) << std::hex << byte;
}

TEST(TextEncoding, Cp866FromCp1251) {
    std::string letters_1251, letters_866;
    for (int i = 0; i < 64; ++i) {
        letters_1251 += static_cast<char>(0xC0 + i);
        letters_866 += static_cast<char>(i < 48 ? 0x80 + i : 0xE0 + i - 48);
    }
    const std::pair<std::string, std::string> cases[] = {
        {"\xD1\xF0\xE0\xE2\xED\xE5\xED\xE8\xE5 OK", "\x91\xE0\xA0\xA2\xAD\xA5\xAD\xA8\xA5 OK"},  // Сравнение OK
        {letters_1251, letters_866},
        {"\xA8\xB8\xB9\xAA\xBA\xAF\xBF\xA1\xA2", "\xF0\xF1\xFC\xF2\xF3\xF4\xF5\xF6\xF7"},  // Ёё№ЄєЇїЎў
        {"\xB0\xB7\xA4\xA0", "\xF8\xFA\xFD\xFF"},                                          // ° · ¤ NBSP
        {"\xAB\x97\xBB\x98\xB2", "?????"},                                                 // « — » unassigned І
    };
    for (const auto& [cp1251, cp866] : cases) EXPECT_EQ(cp866_from_cp1251(cp1251), cp866) << cp1251;
}

TEST(TextEncoding, Utf8Validation) {
    const std::pair<std::string, TextKind> cases[] = {
        {"", TextKind::ascii},                 {"job.txt", TextKind::ascii},
        {"\xD0\xBF\xD1\x80", TextKind::utf8},  {"\xEF\xBF\xBF", TextKind::utf8},
        {"\xF0\x9F\x98\x80", TextKind::utf8},  {"\xF4\x8F\xBF\xBF", TextKind::utf8},
        {"\xC0\xAF", TextKind::other},         {"\xE0\x80\xAF", TextKind::other},  // overlong '/'
        {"\xF0\x80\x80\xAF", TextKind::other}, {"\xED\xA0\x80", TextKind::other},  // surrogate
        {"\xF4\x90\x80\x80", TextKind::other}, {"\xF8\x88\x80\x80\x80", TextKind::other},
        {"a\xD0", TextKind::other},            {"\xE2\x82", TextKind::other},      // cut off
        {"\xF0\x9F\x98", TextKind::other},     {"\xD0" "a", TextKind::other},
        {"\x80", TextKind::other},             {"\xCF\xF0\xE8", TextKind::other},  // Windows-1251
    };
    for (const auto& [text, kind] : cases) {
        const std::vector<char> bytes = exact(text);
        EXPECT_EQ(text_kind(view(bytes)), kind) << text;
        std::u16string wide = u"left over";
        EXPECT_EQ(utf16_from_utf8(view(bytes), wide), kind != TextKind::other) << text;
        EXPECT_EQ(wide.empty(), kind == TextKind::other || text.empty()) << text;
    }
}

TEST(TextEncoding, Utf16SurrogatePairsAndReplacements) {
    const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600
    std::u16string wide;
    ASSERT_TRUE(utf16_from_utf8("a" + smile, wide));
    EXPECT_EQ(wide, u"a\xD83D\xDE00");
    EXPECT_EQ(utf8_from_utf16(wide), "a" + smile);
    EXPECT_EQ(utf8_from_utf16(u"\xD83D" u"a\xDE00\xD83D"), "\xEF\xBF\xBD" "a\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(cp1251_from_utf8(smile + "\xD0\x81\xE2\x82\xAC"), "?\xA8\x88");  // emoji Ё €
    EXPECT_EQ(cp1251_from_utf8(view(exact("a\xC0\xAF" "b\xEF\xBF\xBD\xE2\x82"))), "a??b???");
}

}  // namespace
