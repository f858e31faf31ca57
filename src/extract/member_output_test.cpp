#include "extract/member_output.h"

#include <gtest/gtest.h>

#include "fileio/path_style.h"

namespace {

// Paths are written with "/" here and turned into the platform's separator.
Text native(Text path) {
  for (char& c : path)
    if (c == '/') c = kSeparatorChar;
  return path;
}

struct MappingCase {
  const char* name;
  bool directory;
  const char* expected;  // under the output directory "/out/"
};

TEST(MapMemberPath, JoinsCollapsesAndDropsADirectorysTrailingSeparator) {
  const MappingCase cases[] = {
      {"docs/a.txt", false, "/out/docs/a.txt"},
      {"docs/", true, "/out/docs"},
      {"docs", true, "/out/docs"},
      {"a//b", false, "/out/a/b"},
      {"a///b//", true, "/out/a/b"},
      {"/abs/x", false, "/out/abs/x"},
      {"docs/", false, "/out/docs/"},  // a file name ending in "/" keeps it
      {"./a b.txt", false, "/out/./a b.txt"},
      {"", false, "/out/"},
  };
  for (const MappingCase& c : cases) {
    EXPECT_EQ(map_member_path(native("/out/"), c.name, c.directory), native(c.expected)) << c.name;
  }
}

TEST(MapMemberPath, KeepsEveryOtherByte) {
  const Text name = "caf\xc3\xa9/\x01name";
  EXPECT_EQ(map_member_path(native("/out/"), name, false), native("/out/caf\xc3\xa9/\x01name"));
}

struct NameCase {
  const char* name;
  bool unsafe;
};

TEST(IsUnsafeName, RefusesParentComponentsOnEveryPlatform) {
  const NameCase cases[] = {
      {"../x", true},     {"a/../../x", true}, {"a/..", true},  {"..", true},
      {"a/b/c", false},   {"/abs/x", false},   {"a//b", false}, {"..a/b", false},
      {"a/b../c", false}, {"docs/", false},    {"", false},     {"./a", false},
      {"a/./b", false},
  };
  for (const NameCase& c : cases) EXPECT_EQ(is_unsafe_name(c.name), c.unsafe) << c.name;
}

// Device names include COM and LPT with a superscript 1, 2 or 3 (bytes 0xB9,
// 0xB2, 0xB3 in the ANSI code page) and the console's CONIN$ and CONOUT$.
TEST(IsUnsafeName, WindowsAlsoRefusesColonsDeviceNamesAndBackslashParents) {
  const NameCase cases[] = {
      {"c:x", true},     {"a:b", true},          {"dir/c:/x", true},  {"CON.txt", true},
      {"con", true},     {"docs/Nul.tar", true}, {"COM1", true},      {"lpt9.x.y", true},
      {"COM0", false},   {"COM10", false},       {"CONSOLE", false},  {"a\\..\\x", true},
      {"..\\x", true},   {"icon.txt", false},    {"a/.. /x", true},   {".../x", true},
      {". ./x", true},   {". /x", false},        {"a/./b", false},    {"a.b/..c", false},
      {"COM\xb9", true}, {"lpt\xb2.txt", true},  {"d/Com\xb3", true}, {"COM\xb4", false},
      {"CONIN$", true},  {"conout$.log", true},  {"CONIN", false},    {"CONERR$", false},
  };
  for (const NameCase& c : cases) {
    const bool expected = kWindowsNames ? c.unsafe : false;
    EXPECT_EQ(is_unsafe_name(c.name), expected) << c.name;
  }
}

}  // namespace
