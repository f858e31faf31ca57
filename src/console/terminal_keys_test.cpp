#include "console/terminal_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const unsigned char* bytes_of(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

std::string scan(int code) {
  return std::string{'\0', static_cast<char>(code)};
}

// All key values that a run of bytes gives, decoded unit after unit with no
// further byte to come.
std::vector<std::string> keys_of(const std::string& input) {
  std::vector<std::string> keys;
  size_t at = 0;
  while (at < input.size()) {
    const TerminalUnit unit = decode_terminal_unit(bytes_of(input) + at, input.size() - at, false);
    EXPECT_NE(unit.kind, TerminalUnitKind::incomplete) << "at " << at;
    EXPECT_GT(unit.length, 0u);
    if (unit.length == 0) break;
    if (!unit.key.empty()) keys.push_back(unit.key);
    at += unit.length;
  }
  return keys;
}

struct KeyCase {
  std::string bytes;
  std::vector<std::string> keys;
};

TEST(TerminalKeys, KeyValuesOfTerminalBytes) {
  const std::vector<KeyCase> cases = {
      // Keys that give a character.
      {"a", {"a"}},
      {"\r", {"\r"}},
      {"\t", {"\t"}},
      {"\x7f", {"\b"}},
      {"\b", {"\b"}},
      {"\x03\x1a\x13\x1c", {"\x03", "\x1a", "\x13", "\x1c"}},
      {"\xc3\xa9", {"\xc3", "\xa9"}},
      // Esc on its own, also several in a row.
      {"\x1b", {"\x1b"}},
      {"\x1b\x1b\x1b", {"\x1b", "\x1b", "\x1b"}},
      {"a\x1b", {"a", "\x1b"}},
      // Function keys, as xterm, the Linux console and rxvt send them.
      {"\x1bOP\x1bOQ\x1bOR\x1bOS", {scan(59), scan(60), scan(61), scan(62)}},
      {"\x1b[11~\x1b[12~\x1b[13~\x1b[14~\x1b[15~",
       {scan(59), scan(60), scan(61), scan(62), scan(63)}},
      {"\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~",
       {scan(64), scan(65), scan(66), scan(67), scan(68)}},
      {"\x1b[23~\x1b[24~", {scan(133), scan(134)}},
      {"\x1b[[A\x1b[[B\x1b[[C\x1b[[D\x1b[[E", {scan(59), scan(60), scan(61), scan(62), scan(63)}},
      {"\x1b[P\x1b[Q\x1b[R\x1b[S", {scan(59), scan(60), scan(61), scan(62)}},
      // Cursor and editing keys, in normal and application mode.
      {"\x1b[A\x1b[B\x1b[C\x1b[D", {scan(72), scan(80), scan(77), scan(75)}},
      {"\x1bOA\x1bOB\x1bOC\x1bOD", {scan(72), scan(80), scan(77), scan(75)}},
      {"\x1b[H\x1b[F\x1bOH\x1bOF", {scan(71), scan(79), scan(71), scan(79)}},
      {"\x1b[1~\x1b[7~\x1b[4~\x1b[8~", {scan(71), scan(71), scan(79), scan(79)}},
      {"\x1b[2~\x1b[3~\x1b[5~\x1b[6~", {scan(82), scan(83), scan(73), scan(81)}},
      {"\x1b[E", {scan(76)}},
      // Modifiers do not change the key.
      {"\x1b[1;5A\x1b[1;2B\x1b[3;5~\x1b[1;3P\x1b[15;2~",
       {scan(72), scan(80), scan(83), scan(59), scan(63)}},
      {"\x1b[1;2R", {scan(61)}},
      // Alt+letter, in either case; Alt with a cursor key.
      {"\x1b"
       "a\x1bq\x1bP\x1bm\x1bZ",
       {scan(0x1E), scan(0x10), scan(0x19), scan(0x32), scan(0x2C)}},
      {"\x1b\x1b[A", {scan(72)}},
      // Alt with a key that is no letter gives its character.
      {"\x1b"
       "1\x1b\r\x1b\x7f",
       {"1", "\r", "\b"}},
      // Shift+Tab.
      {"\x1b[Z", {"\t"}},
      // Sequences of no known key are taken whole and give nothing.
      {"\x1b[99~x", {"x"}},
      {"\x1b[?1;2cx", {"x"}},
      {"\x1b[1$Xx", {"x"}},
      {"\x1b[<0;10;20Mx", {"x"}},
      {"\x1bOxy", {"y"}},
      {"\x1b[[Zy", {"y"}},
      {"\x1b[200~ab\x1b[201~", {"a", "b"}},
      // A sequence cut off by a byte that cannot belong to it ends there.
      {"\x1b[12\rx", {"\r", "x"}},
      // Cut off at the end with nothing more to come: nothing, never an Esc.
      {"\x1b[", {}},
      {"\x1b[1;5", {}},
      {"\x1bO", {scan(0x18)}},
      {"\x1b[[", {}},
  };
  for (const KeyCase& test : cases) {
    EXPECT_EQ(keys_of(test.bytes), test.keys) << testing::PrintToString(test.bytes);
  }
}

TEST(TerminalKeys, NoPartOfASequenceIsEverAnEsc) {
  const std::vector<std::string> sequences = {
      "\x1b[A", "\x1bOP", "\x1b[15~", "\x1b[1;5D", "\x1b[[A", "\x1b\x1b[B", "\x1b[99~", "\x1b[?25h",
  };
  for (const std::string& sequence : sequences) {
    // Arriving a byte at a time: every shorter run waits for more.
    for (size_t count = 1; count < sequence.size(); ++count) {
      const TerminalUnit unit = decode_terminal_unit(bytes_of(sequence), count, true);
      EXPECT_EQ(unit.kind, TerminalUnitKind::incomplete)
          << testing::PrintToString(sequence) << " cut at " << count;
    }
    const TerminalUnit whole = decode_terminal_unit(bytes_of(sequence), sequence.size(), true);
    EXPECT_EQ(whole.length, sequence.size()) << testing::PrintToString(sequence);
    EXPECT_NE(whole.key, "\x1b") << testing::PrintToString(sequence);
  }
}

TEST(TerminalKeys, EscWaitsForMoreOnlyWhileMoreMayFollow) {
  const std::string esc = "\x1b";
  EXPECT_EQ(decode_terminal_unit(bytes_of(esc), 1, true).kind, TerminalUnitKind::incomplete);
  const TerminalUnit settled = decode_terminal_unit(bytes_of(esc), 1, false);
  EXPECT_EQ(settled.kind, TerminalUnitKind::key);
  EXPECT_EQ(settled.key, "\x1b");
  EXPECT_EQ(settled.length, 1u);
  // Esc followed by Esc: the first is a key of its own once the second is
  // known not to begin a sequence.
  const std::string two = "\x1b\x1b";
  EXPECT_EQ(decode_terminal_unit(bytes_of(two), 2, true).kind, TerminalUnitKind::incomplete);
  EXPECT_EQ(decode_terminal_unit(bytes_of(two), 2, false).length, 1u);
  const std::string then_letter = "\x1b\x1bx";
  EXPECT_EQ(decode_terminal_unit(bytes_of(then_letter), 3, true).key, "\x1b");
}

TEST(TerminalKeys, OverlongSequenceIsTakenAsNothing) {
  const std::string overlong = "\x1b[" + std::string(40, '1') + "~z";
  const TerminalUnit unit = decode_terminal_unit(bytes_of(overlong), overlong.size(), true);
  EXPECT_EQ(unit.kind, TerminalUnitKind::nothing);
  EXPECT_GT(unit.length, 2u);
  EXPECT_LT(unit.length, overlong.size());
}

TEST(TerminalKeys, CursorReportIsToldApartFromKeys) {
  const std::string report = "\x1b[12;40R";
  const TerminalUnit unit = decode_terminal_unit(bytes_of(report), report.size(), true);
  EXPECT_EQ(unit.kind, TerminalUnitKind::cursor_report);
  EXPECT_EQ(unit.row, 12);
  EXPECT_EQ(unit.column, 40);
  EXPECT_EQ(unit.key, "");
  EXPECT_EQ(unit.length, report.size());
  // Row 1 looks like F3 with a modifier, which it is when no answer is awaited.
  const std::string row_one = "\x1b[1;5R";
  EXPECT_EQ(decode_terminal_unit(bytes_of(row_one), row_one.size(), true).key, scan(61));
}

struct ReportCase {
  std::string bytes;
  size_t from;
  bool found;
  size_t at;
  int32_t row;
  int32_t column;
};

TEST(TerminalKeys, FindsTheCursorReportAmongKeys) {
  const std::vector<ReportCase> cases = {
      {"\x1b[1;1R", 0, true, 0, 1, 1},
      {"ab\x1b[A\x1b[24;80R", 0, true, 5, 24, 80},
      {"x\x1b\x1b[3;7Ry", 0, true, 2, 3, 7},
      {"\x1b[2;2Rq\x1b[5;1R", 1, true, 7, 5, 1},
      {"\x1b[5;1", 0, false, 0, 0, 0},
      {"\x1b[;1R\x1b[5R\x1b[A", 0, false, 0, 0, 0},
      {"", 0, false, 0, 0, 0},
  };
  for (const ReportCase& test : cases) {
    const CursorReport report =
        find_cursor_report(bytes_of(test.bytes), test.bytes.size(), test.from);
    EXPECT_EQ(report.found, test.found) << testing::PrintToString(test.bytes);
    if (!test.found) continue;
    EXPECT_EQ(report.at, test.at) << testing::PrintToString(test.bytes);
    EXPECT_EQ(report.row, test.row);
    EXPECT_EQ(report.column, test.column);
    const std::string text = test.bytes.substr(report.at, report.length);
    EXPECT_EQ(text.back(), 'R');
  }
}

}  // namespace
