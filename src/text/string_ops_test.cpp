#include "text/string_ops.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace std::string_literals;

struct FieldCase {
  Text text;
  Text delimiter;
  int32_t index;
  Text field;
};

TEST(Fields, FieldOfTable) {
  const std::vector<FieldCase> cases = {
      {"startat=abc", "=", 1, "startat"},
      {"startat=abc", "=", 2, "abc"},
      {"only", "=", 1, "only"},
      {"only", "=", 2, ""},
      {"a=b=c", "=", 2, "b"},
      {"a  b", " ", 1, "a"},
      {"a  b", " ", 2, ""},
      {"a  b", " ", 3, "b"},
      {"a  b", " ", 4, ""},
      {"a  b", " ", 0, ""},
      {R"(g:\out\)", "\\", 3, ""},
      {R"(\lead)", "\\", 1, ""},
      {R"(\lead)", "\\", 2, "lead"},
      // Negative indexes count from the end.
      {"a=b=c", "=", -1, "c"},
      {"a=b=c", "=", -2, "b"},
      {"a=b=c", "=", -3, "a"},
      {"a=b=c", "=", -4, ""},
      {"a=b=c", "=", INT32_MIN, ""},
      {"a=b=c", "=", INT32_MAX, ""},
      {"x=", "=", -1, ""},
      // Several-byte delimiters match only as a whole and never overlap.
      {"a::b:c", "::", 2, "b:c"},
      {"a:::b", "::", 2, ":b"},
      {"aaaa", "aa", 2, ""},
      {"aaaaa", "aa", 3, "a"},
      // NUL is an ordinary byte.
      {"a\0b\0c"s, "\0"s, 2, "b"},
      {"", " ", 1, ""},
      {"", " ", -1, ""},
      {"", " ", 2, ""},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(field_of(c.text, c.delimiter, c.index), c.field)
        << "text [" << c.text << "] delimiter [" << c.delimiter << "] index " << c.index;
  }
}

struct SubstringCase {
  Text text;
  int32_t start;
  int32_t length;
  Text result;
};

TEST(Substring, Table) {
  const Text hundred(100, 'n');
  const Text sixty(60, 's');
  const std::vector<SubstringCase> cases = {
      {hundred, 157, 1, ""},
      {sixty, 1, 100, sixty},
      {"abcdef", 2, 3, "bcd"},
      {"abcdef", 6, 1, "f"},
      {"abcdef", 6, 5, "f"},
      {"abcdef", 7, 1, ""},
      {"abcdef", 0, 3, ""},
      {"abcdef", 1, 0, ""},
      {"abcdef", 3, 0, ""},
      {"", 1, 0, ""},
      {"", 1, 5, ""},
      // A negative length counts from the end of the text.
      {"abcdef", 1, -1, "abcde"},
      {"abcdef", 2, -1, "bcdef"},  // length 5, clamped to what remains
      {"abcdef", 1, -6, ""},
      {"abcdef", 1, -7, "abcdef"},
      {"abcdef", 3, -100, "cdef"},
      {"abcdef", 5, -2, "ef"},
      {"abcdef", 1, INT32_MIN, "abcdef"},
      {"x", 1, -1, ""},
      {"", 1, -1, ""},
      {"abc", INT32_MAX, INT32_MAX, ""},
      {"abc", 2, INT32_MAX, "bc"},
      {"a\0c"s, 2, 1, "\0"s},
  };
  for (const SubstringCase& c : cases) {
    EXPECT_EQ(substring(c.text, c.start, c.length), c.result)
        << "text [" << c.text << "] start " << c.start << " length " << c.length;
  }
}

TEST(RightPart, Table) {
  const std::vector<std::tuple<Text, int32_t, Text>> cases = {
      {"", 1, ""},       {R"(d:\out\)", 1, "\\"}, {"abc", 2, "bc"}, {"abc", 3, "abc"},
      {"abc", 4, "abc"}, {"abc", 0, ""},          {"abc", -1, ""},  {"abc", INT32_MAX, "abc"},
  };
  for (const auto& [text, n, result] : cases) {
    EXPECT_EQ(right_part(text, n), result) << "text [" << text << "] n " << n;
  }
  EXPECT_NE(right_part("", 1), "\\");
}

struct FindCase {
  int32_t start;
  Text text;
  Text pattern;
  int32_t position;
};

TEST(FindText, ForwardAndBackwardTable) {
  const std::vector<FindCase> cases = {
      {1, R"(g:\out)", ":", 2},
      {1, R"(\\srv\share)", ":", 0},
      {-1, R"(g:\a\b.txt)", "\\", 5},
      {-1, "abc", "\\", 0},
      // Forward from a later start.
      {3, "abcabc", "a", 4},
      {4, "abcabc", "a", 4},
      {5, "abcabc", "a", 0},
      {1, "abcabc", "bc", 2},
      {1, "ab", "abc", 0},
      {6, "abcabc", "c", 6},
      {7, "abcabc", "c", 0},
      {0, "abcabc", "a", 0},
      {INT32_MAX, "abc", "a", 0},
      // An empty pattern is found at the start itself.
      {1, "abc", "", 1},
      {3, "abc", "", 3},
      {4, "abc", "", 0},
      // An empty text never holds anything.
      {1, "", "", 0},
      {1, "", "a", 0},
      {-1, "", "a", 0},
      {-1, "", "", 0},
      // Backward: the last occurrence wholly within the first L + start + 1 bytes.
      {-1, R"(\\a)", "\\\\", 1},
      {-1, "abcabc", "abc", 4},
      {-2, "abcabc", "abc", 1},
      {-2, "abcabc", "c", 3},
      {-1, "abcabc", "c", 6},
      {-6, "abcabc", "a", 1},
      {-7, "abcabc", "a", 0},
      {-8, "abcabc", "a", 0},
      {INT32_MIN, "abcabc", "a", 0},
      {-1, "ab", "abc", 0},
      {-1, "aaa", "aa", 2},
      // Matching is byte for byte: case counts and NUL is a byte.
      {1, "ABC", "b", 0},
      {1, "a\0b"s, "\0"s, 2},
      {-1, "\0a\0"s, "\0"s, 3},
      {1, "x\xFFy", "\xFF", 2},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(find_text(c.start, c.text, c.pattern), c.position)
        << "start " << c.start << " text [" << c.text << "] pattern [" << c.pattern << "]";
  }
}

TEST(FindText, ParentDirectoryLength) {
  const Text path = R"(g:\out\docs\a.txt)";
  EXPECT_EQ(substring(path, 1, find_text(-1, path, "\\") - 1), R"(g:\out\docs)");
}

struct TrimCase {
  Text text;
  Text set;
  Text left;
  Text right;
};

TEST(Trim, Table) {
  const Text nul_space = "\0 "s;
  const std::vector<TrimCase> cases = {
      {"  docs/a b.txt" + Text(86, '\0'), nul_space, "docs/a b.txt" + Text(86, '\0'),
       "  docs/a b.txt"},
      {Text(12, '\0'), nul_space, "", ""},
      {" \0 a\0 b \0"s, nul_space, "a\0 b \0"s, " \0 a\0 b"s},
      {"xxaxx", "x", "axx", "xxa"},
      {"abcba", "ba", "cba", "abc"},
      {"abcba", "aab", "cba", "abc"},
      {"abc", "", "abc", "abc"},
      {"", nul_space, "", ""},
      {"", "", "", ""},
      {"\xFF"
       "a\xFF",
       "\xFF", "a\xFF",
       "\xFF"
       "a"},
  };
  for (const TrimCase& c : cases) {
    EXPECT_EQ(trim_left_set(c.text, c.set), c.left) << "text [" << c.text << "]";
    EXPECT_EQ(trim_right_set(c.text, c.set), c.right) << "text [" << c.text << "]";
  }
  EXPECT_EQ(trim_right_set(trim_left_set("  docs/a b.txt" + Text(86, '\0'), nul_space), nul_space),
            "docs/a b.txt");
}

TEST(Codes, TextOfCodes) {
  EXPECT_EQ(text_of_codes({0}), "\0"s);
  EXPECT_NE(text_of_codes({0}), "");
  EXPECT_EQ(text_of_codes({0}).size(), 1u);
  EXPECT_EQ(text_of_codes({0, 32}), "\0 "s);
  EXPECT_EQ(text_of_codes({}), "");
  EXPECT_EQ(text_of_codes({-1}), "");
  EXPECT_EQ(text_of_codes({65, -1, 66}), "AB");
  // Only the low 8 bits of a code count.
  EXPECT_EQ(text_of_codes({255, 256 + 'A', -2}),
            "\xFF"
            "A\xFE");
}

TEST(Codes, FirstCode) {
  EXPECT_EQ(first_code(""), -1);
  EXPECT_EQ(first_code("\x1b[A"), 27);
  EXPECT_EQ(first_code("\0x"s), 0);
  EXPECT_EQ(first_code("\xE9"), 233);
  EXPECT_EQ(first_code("\xFF"), 255);
}

TEST(Codes, ComparisonIsByteForByte) {
  EXPECT_NE(Text("abc"), Text("ABC"));
  EXPECT_LT(Text("ab"), Text("abc"));
  EXPECT_LT(Text("a\x7F"), Text("a\x80"));  // bytes compare as unsigned values
  EXPECT_EQ(Text("a") + Text("\0b"s), "a\0b"s);
}

}  // namespace
