#include "text/wide_text_win32.h"

#include <gtest/gtest.h>

namespace {

// Each piece between separators is UTF-8 when it can be (no overlong forms,
// no encoded surrogates), else the code page's (1252, or 932 with its lead
// and trail bytes); a piece that fits neither makes the name unusable.
TEST(WideText, NamesPieceByPiece) {
  const std::tuple<Text, unsigned, std::optional<std::wstring>> cases[] = {
      {"\xC3\xA9\\\xE9.txt", 1252, L"\u00E9\\\u00E9.txt"},
      {"Z:\\\xE4\xB8\xAD/\xF0\x9F\x98\x80", 1252, L"Z:\\\u4E2D/\U0001F600"},
      {"\xC0\xAF\xED\xA0\x80", 1252, L"\u00C0\u00AF\u00ED\u00A0\u20AC"},
      {"\x82\xA0", 932, L"\u3042"},
      {"ok\\\x81.txt", 932, std::nullopt},
  };
  for (const auto& [bytes, code_page, expected] : cases) {
    EXPECT_EQ(wide_name(bytes, code_page), expected) << bytes;
  }
  EXPECT_EQ(wide_shown("a\\b\x82", 932), L"a\\b\u30FB");
  EXPECT_EQ(utf8_of(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8_shown("d\xE9j\xE0/\xC3\xA9"), "d\xC3\xA9j\xC3\xA0/\xC3\xA9");
}

}  // namespace
