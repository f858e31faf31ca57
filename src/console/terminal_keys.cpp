#include "console/terminal_keys.h"

#include "console/letter_keys.h"

namespace {

constexpr unsigned char kEsc = 27;
constexpr unsigned char kDelete = 127;
constexpr unsigned char kBackspace = 8;
// A control sequence that has not ended after this many bytes is no key.
constexpr size_t kLongestSequence = 32;
// Numbers in sequences are read to at most this many digits.
constexpr int kLongestNumber = 6;

// PC scan codes of the keys that give no character.
enum ScanCode : unsigned char {
  kF1 = 59,
  kF2 = 60,
  kF3 = 61,
  kF4 = 62,
  kF5 = 63,
  kF6 = 64,
  kF7 = 65,
  kF8 = 66,
  kF9 = 67,
  kF10 = 68,
  kHome = 71,
  kUp = 72,
  kPageUp = 73,
  kLeft = 75,
  kCenter = 76,
  kRight = 77,
  kEnd = 79,
  kDown = 80,
  kPageDown = 81,
  kInsert = 82,
  kDel = 83,
  kF11 = 133,
  kF12 = 134,
};

Text scan_key(unsigned char scan_code) {
  return Text{'\0', static_cast<char>(scan_code)};
}

Text char_key(unsigned char byte) {
  return Text(1, static_cast<char>(byte == kDelete ? kBackspace : byte));
}

TerminalUnit unit(TerminalUnitKind kind, size_t length, Text key = "") {
  TerminalUnit result;
  result.kind = kind;
  result.length = length;
  result.key = std::move(key);
  return result;
}

TerminalUnit key_or_nothing(size_t length, Text key) {
  return unit(key.empty() ? TerminalUnitKind::nothing : TerminalUnitKind::key, length,
              std::move(key));
}

// The key named by the last byte of a cursor-key or function-key sequence
// ("ESC [ A", "ESC O P", with or without modifier numbers before it).
struct FinalLetterKey {
  unsigned char final;
  unsigned char scan_code;
};
constexpr FinalLetterKey kFinalLetterKeys[] = {
    {'A', kUp},   {'B', kDown}, {'C', kRight}, {'D', kLeft}, {'E', kCenter}, {'F', kEnd},
    {'H', kHome}, {'P', kF1},   {'Q', kF2},    {'R', kF3},   {'S', kF4},
};

Text final_letter_key(unsigned char final) {
  for (const FinalLetterKey& key : kFinalLetterKeys) {
    if (key.final == final) return scan_key(key.scan_code);
  }
  return "";
}

// The key of "ESC [ number ~".
struct TildeKey {
  int32_t number;
  unsigned char scan_code;
};
constexpr TildeKey kTildeKeys[] = {
    {1, kHome},     {7, kHome}, {2, kInsert}, {3, kDel},  {4, kEnd},  {8, kEnd},  {5, kPageUp},
    {6, kPageDown}, {11, kF1},  {12, kF2},    {13, kF3},  {14, kF4},  {15, kF5},  {17, kF6},
    {18, kF7},      {19, kF8},  {20, kF9},    {21, kF10}, {23, kF11}, {24, kF12},
};

Text tilde_key(int32_t number) {
  for (const TildeKey& key : kTildeKeys) {
    if (key.number == number) return scan_key(key.scan_code);
  }
  return "";
}

// The numbers of a parameter run such as "1;5": up to two of them, each -1
// when left out. False when the run holds anything but digits and ";".
struct Parameters {
  int32_t first = -1;
  int32_t second = -1;
  int count = 0;  // numbers given, separators counted
};

bool read_parameters(const unsigned char* bytes, size_t count, Parameters& out) {
  int32_t* slots[2] = {&out.first, &out.second};
  int index = 0;
  int digits = 0;
  out.count = count > 0 ? 1 : 0;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char byte = bytes[i];
    if (byte == ';') {
      ++index;
      ++out.count;
      digits = 0;
      continue;
    }
    if (byte < '0' || byte > '9') return false;
    if (index < 2 && digits < kLongestNumber) {
      int32_t& slot = *slots[index];
      slot = (slot < 0 ? 0 : slot * 10) + (byte - '0');
    }
    ++digits;
  }
  return true;
}

// "ESC [ ..." from its first byte (bytes[0] is ESC, bytes[1] is "[").
TerminalUnit decode_csi(const unsigned char* bytes, size_t count, bool more_may_follow) {
  if (count == 2) {
    return more_may_follow ? unit(TerminalUnitKind::incomplete, 0)
                           : unit(TerminalUnitKind::nothing, 2);
  }
  if (bytes[2] == '[') {
    // The Linux console's F1 to F5: "ESC [ [ A" to "ESC [ [ E".
    if (count == 3) {
      return more_may_follow ? unit(TerminalUnitKind::incomplete, 0)
                             : unit(TerminalUnitKind::nothing, 3);
    }
    const unsigned char final = bytes[3];
    if (final >= 'A' && final <= 'E')
      return unit(TerminalUnitKind::key, 4, scan_key(kF1 + (final - 'A')));
    if (final >= 0x40 && final <= 0x7E) return unit(TerminalUnitKind::nothing, 4);
    return unit(TerminalUnitKind::nothing, 3);
  }
  size_t i = 2;
  size_t parameters_end = 2;
  bool has_intermediates = false;
  for (;; ++i) {
    if (i == count) {
      return more_may_follow && i < kLongestSequence ? unit(TerminalUnitKind::incomplete, 0)
                                                     : unit(TerminalUnitKind::nothing, i);
    }
    if (i >= kLongestSequence) return unit(TerminalUnitKind::nothing, i);
    const unsigned char byte = bytes[i];
    if (byte >= 0x30 && byte <= 0x3F && !has_intermediates) {
      parameters_end = i + 1;
    } else if (byte >= 0x20 && byte <= 0x2F) {
      has_intermediates = true;
    } else if (byte >= 0x40 && byte <= 0x7E) {
      break;
    } else {
      // A byte that cannot be part of the sequence: it ends there, giving nothing.
      return unit(TerminalUnitKind::nothing, i);
    }
  }
  const size_t length = i + 1;
  const unsigned char final = bytes[i];
  Parameters parameters;
  if (has_intermediates || !read_parameters(bytes + 2, parameters_end - 2, parameters)) {
    return unit(TerminalUnitKind::nothing, length);
  }
  if (final == 'R' && parameters.count == 2 && parameters.first >= 0 && parameters.second >= 0) {
    // A cursor report, or F3 with a modifier: "ESC [ 1 ; m R".
    TerminalUnit report = unit(TerminalUnitKind::cursor_report, length,
                               parameters.first == 1 ? scan_key(kF3) : Text());
    report.row = parameters.first;
    report.column = parameters.second;
    return report;
  }
  if (final == '~') return key_or_nothing(length, tilde_key(parameters.first));
  if (final == 'Z') return unit(TerminalUnitKind::key, length, char_key('\t'));  // Shift+Tab
  return key_or_nothing(length, final_letter_key(final));
}

// "ESC O ..." (bytes[0] is ESC, bytes[1] is "O"): F1 to F4 and the cursor
// keys in the terminal's application mode; on its own, Alt+O.
TerminalUnit decode_ss3(const unsigned char* bytes, size_t count, bool more_may_follow) {
  if (count == 2) {
    return more_may_follow ? unit(TerminalUnitKind::incomplete, 0)
                           : unit(TerminalUnitKind::key, 2, scan_key(letter_scan_code('o')));
  }
  size_t i = 2;
  for (;; ++i) {
    if (i == count) {
      return more_may_follow && i < kLongestSequence ? unit(TerminalUnitKind::incomplete, 0)
                                                     : unit(TerminalUnitKind::nothing, i);
    }
    if (i >= kLongestSequence) return unit(TerminalUnitKind::nothing, i);
    const unsigned char byte = bytes[i];
    if ((byte >= '0' && byte <= '9') || byte == ';') continue;
    if (byte >= 0x40 && byte <= 0x7E) break;
    return unit(TerminalUnitKind::nothing, i);
  }
  return key_or_nothing(i + 1, final_letter_key(bytes[i]));
}

// A unit that begins with ESC.
TerminalUnit decode_escape(const unsigned char* bytes, size_t count, bool more_may_follow) {
  if (count == 1) {
    return more_may_follow ? unit(TerminalUnitKind::incomplete, 0)
                           : unit(TerminalUnitKind::key, 1, char_key(kEsc));
  }
  const unsigned char second = bytes[1];
  if (second == '[') return decode_csi(bytes, count, more_may_follow);
  if (second == 'O') return decode_ss3(bytes, count, more_may_follow);
  if (second == kEsc) {
    // Alt with a cursor or function key comes as ESC and that key's sequence;
    // otherwise the first ESC is the Esc key on its own.
    if (count == 2) {
      return more_may_follow ? unit(TerminalUnitKind::incomplete, 0)
                             : unit(TerminalUnitKind::key, 1, char_key(kEsc));
    }
    if (bytes[2] == '[' || bytes[2] == 'O') {
      TerminalUnit inner = decode_escape(bytes + 1, count - 1, more_may_follow);
      if (inner.kind == TerminalUnitKind::cursor_report) inner.kind = TerminalUnitKind::key;
      if (inner.kind == TerminalUnitKind::key && inner.key.empty())
        inner.kind = TerminalUnitKind::nothing;
      if (inner.kind != TerminalUnitKind::incomplete) ++inner.length;
      return inner;
    }
    return unit(TerminalUnitKind::key, 1, char_key(kEsc));
  }
  const unsigned char scan_code = letter_scan_code(second);
  if (scan_code != 0) return unit(TerminalUnitKind::key, 2, scan_key(scan_code));
  // Alt with any other key gives that key's character.
  return unit(TerminalUnitKind::key, 2, char_key(second));
}

}  // namespace

TerminalUnit decode_terminal_unit(const unsigned char* bytes, size_t count, bool more_may_follow) {
  if (count == 0) return unit(TerminalUnitKind::incomplete, 0);
  if (bytes[0] == kEsc) return decode_escape(bytes, count, more_may_follow);
  return unit(TerminalUnitKind::key, 1, char_key(bytes[0]));
}

CursorReport find_cursor_report(const unsigned char* bytes, size_t count, size_t from) {
  CursorReport report;
  for (size_t at = from; at < count; ++at) {
    if (bytes[at] != kEsc || at + 1 >= count || bytes[at + 1] != '[') continue;
    int32_t numbers[2] = {0, 0};
    size_t i = at + 2;
    bool matched = true;
    for (int n = 0; n < 2 && matched; ++n) {
      int digits = 0;
      while (i < count && bytes[i] >= '0' && bytes[i] <= '9') {
        if (digits < kLongestNumber) numbers[n] = numbers[n] * 10 + (bytes[i] - '0');
        ++digits;
        ++i;
      }
      const unsigned char expected = n == 0 ? ';' : 'R';
      matched = digits > 0 && i < count && bytes[i] == expected;
      ++i;
    }
    if (!matched) continue;
    report.found = true;
    report.at = at;
    report.length = i - at;
    report.row = numbers[0];
    report.column = numbers[1];
    return report;
  }
  return report;
}
