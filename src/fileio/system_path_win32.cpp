#include "fileio/system_path_win32.h"

#include <windows.h>

#include <cwchar>

#include "fileio/path_style.h"
#include "fileio/system_call_win32.h"
#include "text/wide_text_win32.h"

namespace {

// The longest path the system takes, its prefix included.
constexpr size_t kLongestPath = 32767;

const std::wstring kVerbatim = LR"(\\?\)";
const std::wstring kDevice = LR"(\\.\)";

bool is_separator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// "\\.\", "//?/" and the like: a path into the system's own namespaces,
// whose leading components are no names to trim.
bool has_namespace_prefix(const std::wstring& path) {
  return path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) &&
         (path[2] == L'.' || path[2] == L'?') && is_separator(path[3]);
}

// Each component without its trailing dots and spaces ("." and ".." stay,
// to be resolved next). A component left empty goes with its separator, as
// a doubled separator would.
std::wstring trimmed_components(const std::wstring& path) {
  std::wstring result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !is_separator(path[end])) ++end;
    std::wstring component = path.substr(start, end - start);
    if (component != L"." && component != L"..") {
      while (!component.empty() && (component.back() == L'.' || component.back() == L' ')) {
        component.pop_back();
      }
    }
    if (!component.empty() || end == start) {
      result += component;
      if (end < path.size()) result += path[end];
    }
    start = end + 1;
  }
  return result;
}

// The full path as GetFullPathNameW makes it; "" when it cannot.
std::wstring full_path(const std::wstring& path) {
  std::wstring full(path.size() + MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD last_error = 0;
    const DWORD length = guarded_call(
        [&] {
          return GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                  nullptr);
        },
        last_error);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    // Too small: the length asked for counts the final NUL.
    full.resize(length);
  }
  return {};
}

}  // namespace

SystemPath system_path(const Text& path) {
  SystemPath result;
  // A NUL byte would end the name early and reach some other path.
  if (path.empty() || path.find('\0') != Text::npos) return result;
  const std::optional<std::wstring> name = wide_name(path);
  if (!name || name->empty()) return result;
  std::wstring wide = *name;
  if (wide.starts_with(kVerbatim)) {
    if (wide.size() <= kLongestPath) result.path = wide;
    return result;
  }
  if (!has_namespace_prefix(wide)) wide = trimmed_components(wide);
  if (wide.empty()) return result;
  const std::wstring full = full_path(wide);
  if (full.starts_with(kDevice) || full.starts_with(kVerbatim)) {
    result.path = full;
    result.device = full.starts_with(kDevice);
  } else if (full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\') {
    result.path = kVerbatim + L"UNC" + full.substr(1);
  } else if (!full.empty()) {
    result.path = kVerbatim + full;
  }
  if (result.path.size() > kLongestPath) result.path.clear();
  return result;
}

Text program_name(const wchar_t* name) {
  return utf8_of(name, std::wcslen(name));
}

std::optional<Text> system_name_text(const Text& name) {
  const std::optional<std::wstring> wide = wide_name(name);
  if (!wide) return std::nullopt;
  return utf8_of(*wide);
}
