#include "text/wide_text_win32.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned kWestern = 1252;
constexpr unsigned kJapanese = 932;

// Each piece between separators is UTF-8 when it can be, else the code
// page's; a piece that fits neither makes the whole name unusable.
TEST(WideText, NamesPieceByPiece) {
  struct Case {
    Text bytes;
    unsigned code_page;
    std::optional<std::wstring> expected;
  };
  const Case cases[] = {
      {"plain/a.txt", kWestern, L"plain/a.txt"},
      {"\xC3\xA9.txt", kWestern, L"\u00E9.txt"},
      {"\xE9.txt", kWestern, L"\u00E9.txt"},
      {"\xCE\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80", kWestern,
       L"\u03A9 \u4E2D\u6587 \U0001F600"},
      // A UTF-8 directory and a code-page name below it.
      {"Z:\\\xE4\xB8\xAD-dir\\d\xE9j\xE0/x", kWestern, L"Z:\\\u4E2D-dir\\d\u00E9j\u00E0/x"},
      // Overlong forms and encoded surrogates are no UTF-8.
      {"\xC0\xAF", kWestern, L"\u00C0\u00AF"},
      {"\xED\xA0\x80", kWestern, L"\u00ED\u00A0\u20AC"},
      {"\x82\xA0", kJapanese, L"\u3042"},
      {"ok\\\x81.txt", kJapanese, std::nullopt},
      {"\x82", kJapanese, std::nullopt},
      {"", kWestern, L""},
      {Text("a\0b", 3), kWestern, std::wstring(L"a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(wide_name(c.bytes, c.code_page), c.expected);
  }
  // Shown, such a piece gets the code page's replacement character.
  EXPECT_EQ(wide_shown("a\\b\x82", kJapanese), L"a\\b\u30FB");
}

TEST(WideText, Utf8OfWideAndShown) {
  EXPECT_EQ(utf8_of(L"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8_of(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8_shown("Skip: d\xE9j\xE0/\xC3\xA9.txt"), "Skip: d\xC3\xA9j\xC3\xA0/\xC3\xA9.txt");
  EXPECT_EQ(utf8_shown("plain"), "plain");
}

}  // namespace
