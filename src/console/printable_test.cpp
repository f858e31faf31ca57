#include "console/printable.h"

#include <gtest/gtest.h>

namespace {

struct ShownCase {
  Text name;
  Text shown;
};

TEST(Printable, ControlCharactersAreEscapedAndEverythingElseKept) {
  using namespace std::string_literals;
  const ShownCase cases[] = {
      {"docs/a b.txt", "docs/a b.txt"},
      {"", ""},
      {"line\nbreak.txt", "line\\x0abreak.txt"},
      {"\x1b[2Jclear", "\\x1b[2Jclear"},
      {"over\rwrite\t\x7f", "over\\x0dwrite\\x09\\x7f"},
      {"cut\0off"s, "cut\\x00off"},
      {"\x01\x1f", "\\x01\\x1f"},
      // U+009B (CSI) in UTF-8; U+00A0 and U+00E9 are printable.
      {"a\xc2\x9b[2Jb", "a\\xc2\\x9b[2Jb"},
      {"\xc2\x80\xc2\xa0\xc3\xa9", "\\xc2\\x80\xc2\xa0\xc3\xa9"},
      // Bytes that are not UTF-8 and a lone lead byte at the end stay.
      {"\x9b\xe9\xc2", "\x9b\xe9\xc2"},
      {"a\\x0ab", "a\\x0ab"},
  };
  for (const ShownCase& c : cases) EXPECT_EQ(printable(c.name), c.shown) << c.name;
}

}  // namespace
