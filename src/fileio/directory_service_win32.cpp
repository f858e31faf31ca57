// The existence probe and directory creation on Windows: one directory
// search (FindFirstFileA / FindNextFileA / FindClose) kept open between
// probes, and CreateDirectoryA. Paths longer than the system takes (256
// characters for a probe, 255 for a directory) are refused, never cut.
#include <windows.h>

#include "fileio/directory_service.h"
#include "fileio/entry_filter.h"
#include "fileio/output_root.h"
#include "fileio/system_call_win32.h"

namespace {

constexpr size_t kLongestProbe = 256;
constexpr size_t kLongestDirectory = 255;

// The one search of the process: its handle and the mask it was opened with.
// A search still open when the process ends is closed then.
struct SearchState {
  HANDLE handle = INVALID_HANDLE_VALUE;
  int32_t mask = 0;

  void close() {
    if (handle == INVALID_HANDLE_VALUE) return;
    const HANDLE open_search = handle;
    guarded_ok([&] { return FindClose(open_search); });
    handle = INVALID_HANDLE_VALUE;
  }
  ~SearchState() { close(); }
};

SearchState& search_state() {
  static SearchState state;
  return state;
}

bool next_entry(SearchState& search, WIN32_FIND_DATAA& entry) {
  return guarded_ok([&] { return FindNextFileA(search.handle, &entry); });
}

// From the entry at hand on: the name of the first one the mask admits, or
// "" (and the search closed) when the entries run out.
Text first_admitted(SearchState& search, WIN32_FIND_DATAA& entry) {
  for (;;) {
    const Text name(entry.cFileName);
    if (entry_admitted(name, static_cast<int32_t>(entry.dwFileAttributes), search.mask)) {
      return name;
    }
    if (!next_entry(search, entry)) {
      search.close();
      return "";
    }
  }
}

}  // namespace

Text find_entry(const Text& path, int32_t mask) {
  SearchState& search = search_state();
  Text pattern = path;
  WIN32_FIND_DATAA entry{};

  if (pattern.empty()) {
    if (search.handle == INVALID_HANDLE_VALUE) return "";
    if (!next_entry(search, entry)) {
      search.close();
      return "";
    }
    return first_admitted(search, entry);
  }

  search.close();
  search.mask = probe_mask(mask);
  // A NUL byte would end the pattern early and probe some other path, as
  // would a pattern cut to the longest the probe takes.
  if (pattern.find('\0') != Text::npos || pattern.size() > kLongestProbe) return "";
  // A directory path or a bare drive searches that directory's entries.
  if (pattern.back() == '\\' || pattern.back() == ':') pattern += "*.*";

  DWORD last_error = 0;
  const HANDLE handle =
      guarded_call([&] { return FindFirstFileA(pattern.c_str(), &entry); }, last_error);
  if (handle == INVALID_HANDLE_VALUE) return "";
  search.handle = handle;
  return first_admitted(search, entry);
}

void make_directory(const Text& path) {
  // A longer path is refused whole: cut, it would make another directory.
  if (path.size() > kLongestDirectory) return;
  if (path.find_first_of("*?") != Text::npos || path.find('\0') != Text::npos) return;
  // Below the output directory, only in a parent reached without links.
  if (reach_parent(path).place == PathPlace::refused) return;
  guarded_ok([&] { return CreateDirectoryA(path.c_str(), nullptr); });
}
