// Member names that could reach outside the output directory.
#include "extract/unsafe_name.h"

#include <algorithm>
#include <cctype>

#include "fileio/path_style.h"

namespace {

bool is_separator(char c) {
  return c == '/' || (kWindowsNames && c == '\\');
}

// A digit 1 to 9, or a superscript one, two or three, which Windows takes as
// 1, 2 and 3 in COM and LPT device names: one byte (0xB9, 0xB2, 0xB3) in the
// ANSI code page, two in UTF-8 (0xC2 then the same byte).
bool is_port_digit(const Text& digit) {
  const auto last = static_cast<unsigned char>(digit.back());
  const bool superscript = last == 0xB9 || last == 0xB2 || last == 0xB3;
  if (digit.size() == 2) return static_cast<unsigned char>(digit[0]) == 0xC2 && superscript;
  return digit.size() == 1 && ((last >= '1' && last <= '9') || superscript);
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

// Windows drops trailing dots and spaces from each path component, so ".. "
// or "..." can come to mean the parent directory: any component made of dots
// and spaces alone, with two dots or more, is refused there.
bool is_dots_and_spaces(const Text& component) {
  return component.find_first_not_of(". ") == Text::npos &&
         std::count(component.begin(), component.end(), '.') >= 2;
}

bool is_unsafe_component(const Text& component) {
  if (component == "..") return true;
  if (!kWindowsNames) return false;
  return component.find(':') != Text::npos || is_device_name(component) ||
         is_dots_and_spaces(component);
}

}  // namespace

bool is_unsafe_name(const Text& name) {
  // A name the system cannot be given unchanged would be given another one.
  if (!system_can_name(name)) return true;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || is_separator(name[i])) {
      if (is_unsafe_component(name.substr(start, i - start))) return true;
      start = i + 1;
    }
  }
  return false;
}
