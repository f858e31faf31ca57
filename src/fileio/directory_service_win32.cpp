// The existence probe and directory creation on Windows: one directory
// search (FindFirstFileW / FindNextFileW / FindClose) kept open between
// probes, and CreateDirectoryW. Every path goes through system_path, so it is
// used whole, however long.
#include <windows.h>

#include "fileio/directory_service.h"
#include "fileio/entry_filter.h"
#include "fileio/system_call_win32.h"
#include "fileio/system_path_win32.h"

namespace {

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

bool next_entry(SearchState& search, WIN32_FIND_DATAW& entry) {
  return guarded_ok([&] { return FindNextFileW(search.handle, &entry); });
}

// From the entry at hand on: the name of the first one the mask admits, or
// "" (and the search closed) when the entries run out.
Text first_admitted(SearchState& search, WIN32_FIND_DATAW& entry) {
  for (;;) {
    const Text name = program_name(entry.cFileName);
    if (entry_admitted(name, static_cast<int32_t>(entry.dwFileAttributes), search.mask)) {
      return name;
    }
    if (!next_entry(search, entry)) {
      search.close();
      return "";
    }
  }
}

// "\\?\g:\": the root of a drive, which a search never finds as an entry.
bool is_drive_root(const std::wstring& path) {
  return path.size() == 7 && path[5] == L':' && path[6] == L'\\';
}

// The root itself (a path such as "g:\." names it): found whatever it holds,
// as a directory; its hidden and system attributes are not its own choice.
Text root_itself(const std::wstring& path, int32_t mask) {
  DWORD last_error = 0;
  const DWORD attributes =
      guarded_call([&] { return GetFileAttributesW(path.c_str()); }, last_error);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return "";
  }
  const Text name = program_name(path.c_str() + 4);
  return entry_admitted(name, kAttributeDirectory, mask) ? name : "";
}

}  // namespace

Text find_entry(const Text& path, int32_t mask) {
  SearchState& search = search_state();
  Text pattern = path;
  WIN32_FIND_DATAW entry{};

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
  // A directory path or a bare drive searches that directory's entries.
  const bool searches_inside =
      pattern.back() == '\\' || pattern.back() == '/' || pattern.back() == ':';
  if (searches_inside) pattern += "*.*";
  // A device is no directory entry: reading one as an archive could wait
  // for ever.
  const SystemPath target = system_path(pattern);
  if (target.path.empty() || target.device) return "";
  if (!searches_inside && is_drive_root(target.path)) return root_itself(target.path, search.mask);

  DWORD last_error = 0;
  const HANDLE handle =
      guarded_call([&] { return FindFirstFileW(target.path.c_str(), &entry); }, last_error);
  if (handle == INVALID_HANDLE_VALUE) return "";
  search.handle = handle;
  return first_admitted(search, entry);
}
