#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/command_line.h"

namespace {

std::vector<Text> fields_of(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return command_fields(static_cast<int>(arguments.size()), argv.data());
}

TEST(CommandLine, TheArgumentsAsTheShellGaveThem) {
  EXPECT_EQ(fields_of({"holvex"}), std::vector<Text>{});
  // A space, a quote or an empty argument is part of its field.
  EXPECT_EQ(fields_of({"/opt/my tools/holvex", "/srv/new disk", "\"only=x\"", ""}),
            (std::vector<Text>{"/srv/new disk", "\"only=x\"", ""}));
}

}  // namespace
