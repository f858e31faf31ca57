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
      {"line\nbreak\x1b[2J\r\x7f", "line\\x0abreak\\x1b[2J\\x0d\\x7f"},
      {"cut\0off"s, "cut\\x00off"},
      // U+009B (CSI) in UTF-8 is escaped; U+00A0, bytes that are no UTF-8
      // and a lone lead byte at the end are not.
      {"\xc2\x9b[2J\xc2\xa0\x9b\xc2", "\\xc2\\x9b[2J\xc2\xa0\x9b\xc2"},
  };
  for (const ShownCase& c : cases) EXPECT_EQ(printable(c.name), c.shown) << c.name;
}

}  // namespace
