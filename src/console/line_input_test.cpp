#include "console/line_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Redirected input handed out in the chunks a test chooses; an empty chunk
// is a read that finds nothing (the end of a file, or an empty pipe).
struct ChunkSource {
  std::vector<std::string> chunks;
  size_t next = 0;
  std::vector<size_t> asked;  // the size of every read asked for
};

ChunkSource source_of(std::vector<std::string> chunks) {
  ChunkSource source;
  source.chunks = std::move(chunks);
  return source;
}

size_t read_chunk(void* context, unsigned char* buffer, size_t max) {
  auto* source = static_cast<ChunkSource*>(context);
  source->asked.push_back(max);
  if (source->next >= source->chunks.size()) return 0;
  const std::string& chunk = source->chunks[source->next++];
  const size_t count = chunk.size() < max ? chunk.size() : max;
  for (size_t i = 0; i < count; ++i) buffer[i] = static_cast<unsigned char>(chunk[i]);
  return count;
}

// Splits input into reads of at most 128 bytes, as a file gives them.
std::vector<std::string> as_file(const std::string& bytes) {
  std::vector<std::string> chunks;
  for (size_t at = 0; at < bytes.size(); at += kRefillSize)
    chunks.push_back(bytes.substr(at, kRefillSize));
  return chunks;
}

std::vector<std::string> read_lines(ChunkSource& source, int count) {
  PendingInput pending;
  bool end_of_input = false;
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    lines.push_back(take_redirected_line(pending, end_of_input, InputSource{read_chunk, &source}));
  }
  return lines;
}

const std::string kEnd(1, '\x1a');

struct RedirectedCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> lines;
};

TEST(RedirectedLine, LinesAndTheEndOfInput) {
  const std::string long_line(16384, 'x');
  const std::vector<RedirectedCase> cases = {
      {"two lines, no final line end", as_file("abc\r\ndef"), {"abc", "def", kEnd, kEnd}},
      {"one line with its line end", as_file("abc\r\n"), {"abc", kEnd, kEnd}},
      {"empty input", {}, {"", kEnd, kEnd}},
      {"LF alone ends a line", as_file("abc\ndef\n"), {"abc", "def", kEnd}},
      {"CR dropped wherever it is", as_file("a\rb\r\r\nc\r"), {"ab", "c", kEnd}},
      {"empty lines", as_file("\r\n\r\n"), {"", "", kEnd}},
      {"26 in mid-line ends input for good",
       as_file("ab\x1a"
               "cd\r\nef\r\n"),
       {"ab", kEnd, kEnd}},
      {"26 at the start",
       as_file("\x1a"
               "abc\r\n"),
       {"", kEnd, kEnd}},
      {"26 alone on its line", as_file("ab\r\n\x1a\r\ncd"), {"ab", "", kEnd}},
      {"a line longer than one refill",
       as_file(std::string(300, 'y') + "\r\nz"),
       {std::string(300, 'y'), "z", kEnd}},
      {"16,383 bytes are one line",
       as_file(std::string(16383, 'x') + "\r\n"),
       {std::string(16383, 'x'), kEnd}},
      {"16,384 bytes end the line; the line end then gives an empty line",
       as_file(long_line + "\r\n"),
       {long_line, "", kEnd}},
      {"longer lines are cut every 16,384 bytes",
       as_file(long_line + long_line + "ab\r\ncd"),
       {long_line, long_line, "ab", "cd", kEnd}},
      {"CR LF split across refills", {"abc\r", "\ndef\r\n"}, {"abc", "def", kEnd}},
  };
  for (const RedirectedCase& test : cases) {
    ChunkSource source = source_of(test.chunks);
    EXPECT_EQ(read_lines(source, static_cast<int>(test.lines.size())), test.lines) << test.name;
  }
}

TEST(RedirectedLine, ReadsAtMost128BytesAtATime) {
  ChunkSource source = source_of(as_file(std::string(1000, 'q') + "\r\n"));
  read_lines(source, 2);
  ASSERT_FALSE(source.asked.empty());
  for (size_t asked : source.asked) EXPECT_EQ(asked, kRefillSize);
}

TEST(RedirectedLine, ReadsAheadWhenALineUsesUpThePendingBytes) {
  // The line end is the last byte of a refill: the next chunk is read at
  // once, before the caller asks for another line.
  ChunkSource source = source_of({"abc\r\n", "def\r\n"});
  PendingInput pending;
  bool end_of_input = false;
  EXPECT_EQ(take_redirected_line(pending, end_of_input, InputSource{read_chunk, &source}), "abc");
  EXPECT_EQ(source.next, 2u);
  EXPECT_FALSE(end_of_input);
  EXPECT_EQ(pending.count, 5u);
}

TEST(RedirectedLine, ReadAheadThatMeetsTheEndSetsTheFlag) {
  // Chunk by chunk as a pipe gives them: the read-ahead finding nothing
  // there counts as the end of input, and the next line is the end mark.
  ChunkSource source = source_of({"abc\r\n", "", "late\r\n"});
  PendingInput pending;
  bool end_of_input = false;
  const InputSource input{read_chunk, &source};
  EXPECT_EQ(take_redirected_line(pending, end_of_input, input), "abc");
  EXPECT_TRUE(end_of_input);
  EXPECT_EQ(take_redirected_line(pending, end_of_input, input), kEnd);
  EXPECT_EQ(take_redirected_line(pending, end_of_input, input), kEnd);
  EXPECT_EQ(source.next, 2u) << "nothing is read after the end";
}

TEST(RedirectedLine, ReadAheadThatBeginsWithTheMarkSetsTheFlag) {
  // The same bytes give a different last line depending on whether the
  // mark comes in the read-ahead or in the chunk of the line before it.
  ChunkSource split = source_of({"ab\r\n",
                                 "\x1a"
                                 "cd"});
  EXPECT_EQ(read_lines(split, 2), (std::vector<std::string>{"ab", kEnd}));
  ChunkSource together =
      source_of({"ab\r\n\x1a"
                 "cd"});
  EXPECT_EQ(read_lines(together, 3), (std::vector<std::string>{"ab", "", kEnd}));
}

TEST(RedirectedLine, EmptyPipeAtTheFirstReadIsTheEnd) {
  ChunkSource source = source_of({"", "abc\r\n"});
  EXPECT_EQ(read_lines(source, 2), (std::vector<std::string>{"", kEnd}));
}

// --- console editing ---------------------------------------------------------

struct ScriptedKeyboard {
  std::string keys;
  size_t next = 0;
  std::string echo;
};

ScriptedKeyboard keyboard_of(std::string keys) {
  ScriptedKeyboard keyboard;
  keyboard.keys = std::move(keys);
  return keyboard;
}

int next_key(void* context) {
  auto* keyboard = static_cast<ScriptedKeyboard*>(context);
  if (keyboard->next >= keyboard->keys.size()) return -1;
  return static_cast<unsigned char>(keyboard->keys[keyboard->next++]);
}

void record_echo(void* context, unsigned char byte) {
  static_cast<ScriptedKeyboard*>(context)->echo += static_cast<char>(byte);
}

struct EditCase {
  const char* name;
  std::string keys;
  std::vector<std::string> lines;  // the lines read_line returns, one call each
  std::string echo;
  bool utf8 = false;
  bool stopped = false;  // the last line was stopped by the keys
};

TEST(ConsoleLine, EditingAndEcho) {
  const std::string full(16384, 'x');
  const std::vector<EditCase> cases = {
      {"backspace takes back a character", "ab\bc\r", {"ac"}, "ab\b \bc\r\n"},
      {"backspace on an empty line does nothing", "\b\bx\b\b\by\r", {"y"}, "x\b \by\r\n"},
      {"Esc and Tab are stored", "a\x1b\t\r", {"a\x1b\t"}, "a\x1b\t\r\n"},
      {"Ctrl+C stops the typing", "ab\x03", {""}, "ab^C\r\n", false, true},
      {"so does Ctrl+\\", "ab\x1c", {""}, "ab^C\r\n", false, true},
      {"and in the Ctrl+Z state", "ab\x1a\x03", {""}, "ab^Z^C\r\n", false, true},
      {"keys after Enter wait for the next line", "ab\rcd\r", {"ab", "cd"}, "ab\r\ncd\r\n"},
      {"Ctrl+Z then Enter returns the text before it", "ab\x1a\r", {"ab"}, "ab^Z\r\n"},
      {"in the Ctrl+Z state other keys are ignored", "ab\x1axyz\r", {"ab"}, "ab^Z\r\n"},
      {"Ctrl+Z then Backspace erases ^Z and editing goes on",
       "ab\x1a\bc\r",
       {"abc"},
       "ab^Z\b\b  \b\bc\r\n"},
      {"the next line after a Ctrl+Z line starts in that state",
       "ab\x1a\rx\r",
       {"ab", ""},
       "ab^Z\r\n^Z\r\n"},
      {"Backspace at the start of that next line clears it",
       "a\x1a\r\bb\r",
       {"a", "b"},
       "a^Z\r\n^Z\b\b  \b\bb\r\n"},
      {"the 16,384th character ends the line", full + "y\r", {full, "y"}, full + "\r\ny\r\n"},
      {"a UTF-8 character is one byte at a time without the option",
       "\xc3\xa9\b\r",
       {"\xc3"},
       "\xc3\xa9\b \b\r\n"},
      {"a whole UTF-8 character with the option",
       "a\xc3\xa9\b\xe2\x82\xac\b\r",
       {"a"},
       "a\xc3\xa9\b \b\xe2\x82\xac\b \b\r\n",
       true},
      {"stray continuation bytes go one at a time",
       "\xa9\xa9\b\r",
       {"\xa9"},
       "\xa9\xa9\b \b\r\n",
       true},
      // A wide character takes two columns: both are taken back.
      {"a CJK character is two columns",
       "a\xe4\xb8\xad\bb\r",
       {"ab"},
       "a\xe4\xb8\xad\b\b  \b\bb\r\n",
       true},
      {"Hangul, fullwidth forms and emoji are two columns, accented letters one",
       "\xea\xb0\x80\xef\xbc\xa1\xf0\x9f\x98\x80\xc3\xa9\b\b\b\b\r",
       {""},
       "\xea\xb0\x80\xef\xbc\xa1\xf0\x9f\x98\x80\xc3\xa9\b \b\b\b  \b\b\b\b  \b\b"
       "\b\b  \b\b\r\n",
       true},
  };
  for (const EditCase& test : cases) {
    ScriptedKeyboard keyboard = keyboard_of(test.keys);
    bool end_of_input = false;
    std::vector<std::string> lines;
    bool stopped = false;
    for (size_t i = 0; i < test.lines.size(); ++i) {
      lines.push_back(edit_console_line(
          end_of_input, LineKeyboard{next_key, record_echo, &keyboard, test.utf8}, stopped));
    }
    EXPECT_EQ(lines, test.lines) << test.name;
    EXPECT_EQ(stopped, test.stopped) << test.name;
    EXPECT_EQ(keyboard.echo, test.echo) << test.name;
    EXPECT_EQ(keyboard.next, keyboard.keys.size()) << test.name;
  }
}

// A console that takes characters back itself is told how many and how wide.
void record_take_back(void* context, size_t characters, size_t columns) {
  static_cast<ScriptedKeyboard*>(context)->echo +=
      "<" + std::to_string(characters) + "," + std::to_string(columns) + ">";
}

TEST(ConsoleLine, TakeBackIsToldCharactersAndColumns) {
  ScriptedKeyboard keyboard = keyboard_of("a\xe4\xb8\xad\b\b\x1a\bz\r");
  bool end_of_input = false;
  LineKeyboard console{next_key, record_echo, &keyboard, true, record_take_back};
  bool stopped = false;
  EXPECT_EQ(edit_console_line(end_of_input, console, stopped), "z");
  EXPECT_EQ(keyboard.echo, "a\xe4\xb8\xad<1,2><1,1>^Z<2,2>z\r\n");
}

TEST(ConsoleLine, CtrlZKeepsTheEndFlagUntilBackspace) {
  ScriptedKeyboard keyboard = keyboard_of("a\x1a\r");
  bool end_of_input = false;
  bool stopped = false;
  edit_console_line(end_of_input, LineKeyboard{next_key, record_echo, &keyboard}, stopped);
  EXPECT_TRUE(end_of_input);
  keyboard.keys += "\bz\r";
  EXPECT_EQ(
      edit_console_line(end_of_input, LineKeyboard{next_key, record_echo, &keyboard}, stopped),
      "z");
  EXPECT_FALSE(end_of_input);
}

TEST(ConsoleLine, AGoneKeyboardEndsTheLine) {
  ScriptedKeyboard keyboard = keyboard_of("abc");
  bool end_of_input = false;
  bool stopped = false;
  EXPECT_EQ(
      edit_console_line(end_of_input, LineKeyboard{next_key, record_echo, &keyboard}, stopped),
      "abc");
  EXPECT_EQ(
      edit_console_line(end_of_input, LineKeyboard{next_key, record_echo, &keyboard}, stopped), "");
  EXPECT_FALSE(stopped);
}

}  // namespace
