#include "foundation/text.h"

#include <gtest/gtest.h>

namespace updater {
namespace {

TEST(Utf8Conversion, CyrillicRoundTripsWithTwoBytesPerLetter) {
    const std::wstring text = L"\x041F\x0440\x0438\x0432\x0435\x0442";  // Привет
    const std::string bytes = Utf8FromWide(text);
    EXPECT_EQ(bytes, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(WideFromUtf8(bytes), text);
}

TEST(Utf8Conversion, CharacterOutsideTheBasicPlaneIsOneFourByteSequence) {
    const std::wstring text = L"a\xD83D\xDE00z";  // U+1F600 as a surrogate pair
    const std::string bytes = Utf8FromWide(text);
    EXPECT_EQ(bytes, "a\xF0\x9F\x98\x80z");
    EXPECT_EQ(WideFromUtf8(bytes), text);
}

TEST(Utf8Conversion, EmbeddedNulConvertsLikeAnyCharacter) {
    const std::wstring text(L"a\0b", 3);
    const std::string bytes = Utf8FromWide(text);
    EXPECT_EQ(bytes, std::string("a\0b", 3));
    EXPECT_EQ(WideFromUtf8(bytes), text);
}

TEST(Utf8Conversion, UnpairedSurrogateBecomesReplacementCharacter) {
    EXPECT_EQ(Utf8FromWide(std::wstring(L"x\xD800y")), "x\xEF\xBF\xBDy");
}

TEST(Utf8Conversion, MalformedUtf8BecomesReplacementCharacters) {
    const std::wstring text = WideFromUtf8("\xEF\xBB\x61");
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.back(), L'a');
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        EXPECT_EQ(text[i], L'\xFFFD');
    }
    EXPECT_EQ(WideFromUtf8("\xC3"), L"\xFFFD");
    EXPECT_EQ(WideFromUtf8("ok\xFF"), L"ok\xFFFD");
}

TEST(Utf8Conversion, OnlyOneLeadingByteOrderMarkIsSkipped) {
    EXPECT_EQ(WideFromUtf8("\xEF\xBB\xBF" "a"), L"a");
    EXPECT_EQ(WideFromUtf8("\xEF\xBB\xBF"), L"");
    EXPECT_EQ(WideFromUtf8("\xEF\xBB\xBF\xEF\xBB\xBF" "a"), L"\xFEFF" L"a");
    EXPECT_EQ(WideFromUtf8("a\xEF\xBB\xBF"), L"a\xFEFF");
}

TEST(Utf8Conversion, EmptyInEmptyOutAndNoByteOrderMarkWritten) {
    EXPECT_EQ(Utf8FromWide(L""), "");
    EXPECT_EQ(WideFromUtf8(""), L"");
    EXPECT_EQ(Utf8FromWide(L"\xFEFF"), "\xEF\xBB\xBF");
    EXPECT_EQ(Utf8FromWide(L"abc"), "abc");
}

TEST(Trim, RemovesOnlyTheFourBlanksAtBothEnds) {
    EXPECT_EQ(Trim(L" \tabc \r\n"), L"abc");
    EXPECT_EQ(Trim(L"\r\n"), L"");
    EXPECT_EQ(Trim(L""), L"");
    EXPECT_EQ(Trim(L"  a b  "), L"a b");
    EXPECT_EQ(Trim(L"\xA0x\xA0"), L"\xA0x\xA0");
    EXPECT_EQ(Trim(L"\vx\f"), L"\vx\f");
    EXPECT_EQ(Trim(L"\xFEFFx"), L"\xFEFFx");
}

TEST(ToLower, FoldsAsciiCapitalsOnly) {
    EXPECT_EQ(ToLower(L"--DEBUG-Log"), L"--debug-log");
    const std::wstring cyrillic = L"\x041F\x0420\x0418\x0412\x0415\x0422\x0401";  // ПРИВЕТЁ
    EXPECT_EQ(ToLower(cyrillic), cyrillic);
    EXPECT_EQ(ToLower(L"\x00C9\x00C4\x0130"), L"\x00C9\x00C4\x0130");
    EXPECT_EQ(ToLower(L"@[`{AZaz09"), L"@[`{azaz09");
}

TEST(ReplaceAllText, NeverRescansInsertedText) {
    EXPECT_EQ(ReplaceAllText(L"aa", L"a", L"aa"), L"aaaa");
    EXPECT_EQ(ReplaceAllText(L"&amp;amp;", L"&amp;", L"&"), L"&amp;");
    EXPECT_EQ(ReplaceAllText(L"aaa", L"aa", L"b"), L"ba");
    EXPECT_EQ(ReplaceAllText(L"abc", L"", L"x"), L"abc");
    EXPECT_EQ(ReplaceAllText(L"abcabc", L"bc", L""), L"aa");
}

TEST(JoinText, PutsTheSeparatorOnlyBetweenNeighbours) {
    EXPECT_EQ(JoinText({}, L", "), L"");
    EXPECT_EQ(JoinText({L"a"}, L", "), L"a");
    EXPECT_EQ(JoinText({L"a", L"b", L"c"}, L", "), L"a, b, c");
    EXPECT_EQ(JoinText({L"", L""}, L" | "), L" | ");
}

TEST(GetLastErrorText, SystemMessageTrimmedWithCodeSuffix) {
    for (unsigned long code : {2ul, 3ul, 5ul, 32ul, 12029ul}) {
        const std::wstring text = GetLastErrorText(code);
        const std::wstring suffix = L" (code " + std::to_wstring(code) + L")";
        ASSERT_GT(text.size(), suffix.size()) << code;
        EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix) << code;
        EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << code;
        EXPECT_NE(text[0], L' ') << code;
        EXPECT_NE(text.substr(0, text.size() - suffix.size()).back(), L' ') << code;
    }
}

TEST(GetLastErrorText, CodeWithoutMessageIsUnknown) {
    EXPECT_EQ(GetLastErrorText(0xDEADBEEFul), L"Unknown error (code 3735928559)");
}

}  // namespace
}  // namespace updater
