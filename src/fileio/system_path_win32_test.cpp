#include "fileio/system_path_win32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring wide(const Text& text) {
  return std::wstring(text.begin(), text.end());
}

TEST(SystemPath, NormalisedAsANarrowPathThenPrefixed) {
  using namespace std::string_literals;
  struct Case {
    Text given;
    Text expected;  // "" when the path cannot be reached
    bool device;
  };
  const Case cases[] = {
      {R"(Z:\a\b.txt)", R"(\\?\Z:\a\b.txt)", false},
      {"Z:/a//b/", R"(\\?\Z:\a\b\)", false},
      {R"(Z:\a. \b..\c. .)", R"(\\?\Z:\a\b\c)", false},
      {R"(Z:\a\ \. \b)", R"(\\?\Z:\a\b)", false},
      {R"(Z:\a\.\b\..\c)", R"(\\?\Z:\a\c)", false},
      {R"(Z:\a\NULyyy.txt)", R"(\\?\Z:\a\NULyyy.txt)", false},
      {R"(\\server\share\x. )", R"(\\?\UNC\server\share\x)", false},
      // Given with the prefix, a path is the system's own: used as it is.
      {R"(\\?\Z:\a. \..\b)", R"(\\?\Z:\a. \..\b)", false},
      {"COM1", R"(\\.\COM1)", true},
      {"NUL", R"(\\.\NUL)", true},
      {R"(Z:\a\CON.txt)", R"(\\.\CON)", true},
      {"Z:\\a\0b"s, "", false},
      // The longest path the system takes, its prefix included.
      {"Z:\\" + Text(32760, 'a'), R"(\\?\Z:\)" + Text(32760, 'a'), false},
      {"Z:\\" + Text(32761, 'a'), "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given.substr(0, 40));
    const SystemPath got = system_path(c.given);
    EXPECT_TRUE(got.path == wide(c.expected));
    EXPECT_EQ(got.device, c.device);
  }
}

}  // namespace
