#include "extract/unsafe_name.h"

#include <gtest/gtest.h>

#include "fileio/path_style.h"

namespace {

struct NameCase {
  const char* name;
  bool unsafe;
};

TEST(IsUnsafeName, RefusesParentComponentsOnEveryPlatform) {
  const NameCase cases[] = {
      {"../x", true},     {"a/../../x", true}, {"a/..", true},  {"..", true},
      {"a/b/c", false},   {"/abs/x", false},   {"a//b", false}, {"..a/b", false},
      {"a/..b/c", false}, {"docs/", false},    {"", false},     {"./a", false},
      {"a/./b", false},
  };
  for (const NameCase& c : cases) EXPECT_EQ(is_unsafe_name(c.name), c.unsafe) << c.name;
}

// Device names include COM and LPT with a superscript 1, 2 or 3 (U+00B9,
// U+00B2, U+00B3: the bytes 0xB9, 0xB2, 0xB3 in code page 1252, which the
// tests run in, 0xC2 before each in UTF-8) and the console's CONIN$ and
// CONOUT$. A component whose final dot or space Windows would drop is
// refused: it would be stored under another name.
TEST(IsUnsafeName, WindowsAlsoRefusesColonsDeviceNamesAndBackslashParents) {
  const NameCase cases[] = {
      {"c:x", true},       {"a:b", true},
      {"dir/c:/x", true},  {"CON.txt", true},
      {"con", true},       {"docs/Nul.tar", true},
      {"COM1", true},      {"lpt9.x.y", true},
      {"COM0", false},     {"COM10", false},
      {"CONSOLE", false},  {"a\\..\\x", true},
      {"..\\x", true},     {"icon.txt", false},
      {"a/.. /x", true},   {".../x", true},
      {". ./x", true},     {". /x", true},
      {"a/./b", false},    {"a.b/..c", false},
      {"report.", true},   {"dir./inner.txt", true},
      {"todo ", true},     {"a/b /c", true},
      {" lead", false},    {".hidden", false},
      {"a.b", false},      {"./a", false},
      {"a/b../c", true},   {"a/..b/c", false},
      {"COM\xb9", true},   {"lpt\xb2.txt", true},
      {"d/Com\xb3", true}, {"COM\xb4", false},
      {"CONIN$", true},    {"conout$.log", true},
      {"CONIN", false},    {"CONERR$", false},
  };
  for (const NameCase& c : cases) {
    const bool expected = kWindowsNames ? c.unsafe : false;
    EXPECT_EQ(is_unsafe_name(c.name), expected) << c.name;
  }
  for (const char* name : {"COM\xc2\xb9", "Lpt\xc2\xb3.x"})
    EXPECT_EQ(is_unsafe_name(name), kWindowsNames);
  EXPECT_FALSE(is_unsafe_name("COM\xc3\xb9"));
}

}  // namespace
