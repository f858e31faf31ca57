#include "text/wide_text_win32.h"

#include <windows.h>

namespace {

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

bool is_ascii(const Text& bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// One piece in one code page, appended to `wide`; false (nothing appended)
// when `flags` holds MB_ERR_INVALID_CHARS and the bytes do not fit it.
bool append_piece(const char* bytes, int count, UINT code_page, DWORD flags, std::wstring& wide) {
  if (count == 0) return true;
  const int length = MultiByteToWideChar(code_page, flags, bytes, count, nullptr, 0);
  if (length <= 0) return false;
  const size_t start = wide.size();
  wide.resize(start + static_cast<size_t>(length));
  MultiByteToWideChar(code_page, flags, bytes, count, wide.data() + start, length);
  return true;
}

// The pieces of `bytes` converted one by one; separators are kept. With
// `strict`, false when a piece fits neither UTF-8 nor the code page.
bool widen(const Text& bytes, UINT code_page, bool strict, std::wstring& wide) {
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = start;
    while (end < bytes.size() && !is_separator(bytes[end])) ++end;
    const char* piece = bytes.data() + start;
    const int count = static_cast<int>(end - start);
    if (!append_piece(piece, count, CP_UTF8, MB_ERR_INVALID_CHARS, wide) &&
        !append_piece(piece, count, code_page, MB_ERR_INVALID_CHARS, wide)) {
      if (strict) return false;
      append_piece(piece, count, code_page, 0, wide);
    }
    if (end < bytes.size()) wide += static_cast<wchar_t>(bytes[end]);
    start = end + 1;
  }
  return true;
}

}  // namespace

std::optional<std::wstring> wide_name(const Text& bytes, unsigned code_page) {
  std::wstring wide;
  if (!widen(bytes, code_page, true, wide)) return std::nullopt;
  return wide;
}

std::wstring wide_shown(const Text& bytes, unsigned code_page) {
  std::wstring wide;
  widen(bytes, code_page, false, wide);
  return wide;
}

Text utf8_of(const wchar_t* wide, size_t length) {
  if (length == 0) return "";
  const int count = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return "";
  Text bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, count, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

Text utf8_of(const std::wstring& wide) {
  return utf8_of(wide.data(), wide.size());
}

Text utf8_shown(const Text& bytes) {
  // Most lines are plain ASCII, which is UTF-8 as it is.
  if (is_ascii(bytes)) return bytes;
  return utf8_of(wide_shown(bytes));
}
