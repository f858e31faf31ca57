// Member names that could reach outside the output directory, or that the
// system would store under another name.
#include "extract/unsafe_name.h"

#include <cctype>
#include <optional>

#include "fileio/path_style.h"

namespace {

bool is_separator(char c) {
  return c == '/' || (kWindowsNames && c == '\\');
}

// A digit 1 to 9, or a superscript one, two or three (U+00B9, U+00B2, U+00B3,
// in UTF-8), which Windows takes as 1, 2 and 3 in COM and LPT device names.
bool is_port_digit(const Text& digit) {
  if (digit.size() == 1) return digit[0] >= '1' && digit[0] <= '9';
  return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 (also with a superscript 1, 2 or
// 3), CONIN$ and CONOUT$ name devices on Windows, with or without an
// extension and in any case.
bool is_device_name(const Text& component) {
  Text base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return base.size() > 3 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         is_port_digit(base.substr(3));
}

// Windows drops the dots and spaces that end a path component: "report."
// would be stored as "report", "dir./inner.txt" land in "dir", ".. " or
// "..." mean the parent directory. Only "." keeps its meaning (this
// directory).
bool loses_its_end(const Text& component) {
  return !component.empty() && component != "." &&
         (component.back() == '.' || component.back() == ' ');
}

bool is_unsafe_component(const Text& component) {
  if (component == "..") return true;
  if (!kWindowsNames) return false;
  return component.find(':') != Text::npos || is_device_name(component) || loses_its_end(component);
}

bool has_unsafe_component(const Text& name) {
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || is_separator(name[i])) {
      if (is_unsafe_component(name.substr(start, i - start))) return true;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace

bool is_unsafe_name(const Text& name) {
  if (!kWindowsNames) return has_unsafe_component(name);
  // Tested as the system will hold the name: "COM" and the code page's bytes
  // of a superscript one name a device, whatever those bytes are. A name
  // the system cannot be given unchanged would be given another one.
  const std::optional<Text> held = system_name_text(name);
  return !held || has_unsafe_component(*held);
}
