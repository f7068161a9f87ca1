#include <gtest/gtest.h>

#include "platform/cp932.h"

namespace vos {
namespace {

struct Cp932Case {
    std::wstring text;
    std::string bytes;
};

// Texts the program itself stores or compares; the bytes are those Windows produces.
TEST(Cp932, ProgramTextsRoundTrip) {
    const Cp932Case cases[] = {
        {L"説明書.htm", "\x90\xe0\x96\xbe\x8f\x91.htm"},
        {L"C:\\Vosselmar\\", "C:\\Vosselmar\\"},
        {L"ｱｲｳ", "\xb1\xb2\xb3"},                    // half-width katakana: one byte each
        {L"～", "\x81\x60"},                          // U+FF5E, the Windows wave dash
        {L"＼", "\x81\x5f"},                          // full-width backslash
        {L"①", "\x87\x40"},                          // NEC special row
        {L"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToCp932(c.text), c.bytes);
        EXPECT_EQ(FromCp932(c.bytes), c.text);
    }
    EXPECT_EQ(ToCp932(L"説明書.htm").size(), 10u);
}

TEST(Cp932, UnmappableBecomesQuestionMark) {
    EXPECT_EQ(ToCp932(L"a\u00e9b"), "a?b");        // no best-fit to a bare 'e'
    EXPECT_EQ(ToCp932(L"x\U0001F3B9y"), "x?y");   // outside the BMP
    EXPECT_EQ(FromCp932("a\x81"), L"a?");          // lead byte without its trail
    EXPECT_EQ(FromCp932(std::string("\xa0z", 2)), L"?z");
}

}  // namespace
}  // namespace vos
