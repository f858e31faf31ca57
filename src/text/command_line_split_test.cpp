#include "text/command_line_split.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct SplitCase {
  Text line;
  std::vector<Text> arguments;  // the program's name first
};

TEST(CommandLineSplit, RulesOfTheWindowsRuntime) {
  const std::vector<SplitCase> cases = {
      // The examples of the runtime's documentation, after a program name.
      {R"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
      {R"(p "ab\"c" "\\" d)", {"p", R"(ab"c)", R"(\)", "d"}},
      {R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
      {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
      {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
      {R"(p a"b"" c d)", {"p", R"(ab")", "c", "d"}},
      {R"(p """a")", {"p", R"("a)"}},
      {R"(p "a"""b")", {"p", R"(a"b)"}},
      // Paths as Explorer's "Copy as path" and a drop into the console give them.
      {R"(holvex.exe "C:\My Files\a.tar" "g:\new disk")",
       {"holvex.exe", R"(C:\My Files\a.tar)", R"(g:\new disk)"}},
      {R"(holvex.exe C:\a.tar g:\restore\ only=docs/)",
       {"holvex.exe", R"(C:\a.tar)", R"(g:\restore\)", "only=docs/"}},
      // A final backslash before the closing quote makes the quote literal:
      // the quoted part then runs on to the end of the line.
      {R"(p "g:\new disk\" only=x)", {"p", R"(g:\new disk" only=x)"}},
      {R"(p "g:\new disk\\" only=x)", {"p", R"(g:\new disk\)", "only=x"}},
      // Runs of spaces and tabs are one separator; none at the ends count.
      {"p  a\t\t b  ", {"p", "a", "b"}},
      {"p a  only=x", {"p", "a", "only=x"}},
      // An empty pair of quotes is an empty argument; a quote left open runs
      // to the end of the line.
      {R"(p "" b)", {"p", "", "b"}},
      {R"(p "a b)", {"p", "a b"}},
      {R"(p "only=docs/")", {"p", "only=docs/"}},
      {R"(p "")", {"p", ""}},
      // The program's name as the runtime reads it: quotes group and are
      // dropped wherever they are (CommandLineToArgvW would end a quoted
      // name at its closing quote), backslashes are its own.
      {R"("C:\Program Files\holvex.exe" a)", {R"(C:\Program Files\holvex.exe)", "a"}},
      {R"("C:\tools\"holvex.exe a)", {R"(C:\tools\holvex.exe)", "a"}},
      {R"(C:\tools\holvex.exe\ a)", {R"(C:\tools\holvex.exe\)", "a"}},
      {R"("C:\tools\holvex.exe)", {R"(C:\tools\holvex.exe)"}},
      {"holvex.exe", {"holvex.exe"}},
      {"", {""}},
      // UTF-8 bytes are bytes of an argument like any other.
      {"p \"caf\xC3\xA9 \xE4\xB8\xAD\" only=\xC3\xA9",
       {"p", "caf\xC3\xA9 \xE4\xB8\xAD", "only=\xC3\xA9"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(split_command_line(c.line), c.arguments) << "command line [" << c.line << "]";
  }
}

}  // namespace
