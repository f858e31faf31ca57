#include "text/command_line_split.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// The program's name from `at`; `at` is left where it ended.
Text program_name(const Text& line, size_t& at) {
  Text name;
  bool quoted = false;
  for (; at < line.size(); ++at) {
    const char c = line[at];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && is_blank(c)) {
      break;
    } else {
      name += c;
    }
  }
  return name;
}

// One argument from `at` (not a blank); `at` is left where it ended.
Text argument(const Text& line, size_t& at) {
  Text text;
  bool quoted = false;
  while (at < line.size()) {
    const char c = line[at];
    if (!quoted && is_blank(c)) break;
    if (c == '\\') {
      size_t count = 0;
      while (at < line.size() && line[at] == '\\') {
        ++count;
        ++at;
      }
      const bool before_quote = at < line.size() && line[at] == '"';
      text.append(before_quote ? count / 2 : count, '\\');
      if (before_quote && count % 2 == 1) {
        text += '"';
        ++at;
      }
      continue;
    }
    if (c == '"') {
      if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
        text += '"';
        quoted = false;
        at += 2;
        continue;
      }
      quoted = !quoted;
      ++at;
      continue;
    }
    text += c;
    ++at;
  }
  return text;
}

}  // namespace

std::vector<Text> split_command_line(const Text& line) {
  size_t at = 0;
  std::vector<Text> arguments{program_name(line, at)};
  for (;;) {
    while (at < line.size() && is_blank(line[at])) ++at;
    if (at == line.size()) break;
    arguments.push_back(argument(line, at));
  }
  return arguments;
}
