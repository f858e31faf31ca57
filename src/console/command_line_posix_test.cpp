#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/command_line.h"

namespace {

std::string line_of(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return process_command_line(static_cast<int>(arguments.size()), argv.data());
}

TEST(CommandLine, ArgumentsJoinedBySingleSpaces) {
  EXPECT_EQ(line_of({"holvex"}), "holvex");
  EXPECT_EQ(line_of({"/usr/bin/holvex", "/tar/a.tar", "/out/"}),
            "/usr/bin/holvex /tar/a.tar /out/");
  EXPECT_EQ(line_of({"holvex", "a", "b", "only=x"}), "holvex a b only=x");
  // Only the program's own name is quoted, and only when it holds a space.
  EXPECT_EQ(line_of({"/opt/my tools/holvex", "a b", "c"}), "\"/opt/my tools/holvex\" a b c");
  EXPECT_EQ(line_of({"holvex", "", "x"}), "holvex  x");
}

}  // namespace
