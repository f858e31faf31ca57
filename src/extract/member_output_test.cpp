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

}  // namespace
