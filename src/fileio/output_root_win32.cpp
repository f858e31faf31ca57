// The output root on Windows: each level of the parent directory last
// reached below the output directory is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT), checked to be a directory and no reparse
// point (symbolic link or junction), and held open without delete sharing,
// so it can be neither renamed nor replaced by a link while files are made
// in it. The held levels serve the next path with the same parent. Paths are
// compared and levels opened in their system form (system_path), so that
// any spelling of the output directory ("/" or "\", trailing dots) and paths
// of any length are held alike.
#include <windows.h>

#include <vector>

#include "fileio/output_root.h"
#include "fileio/system_call_win32.h"
#include "fileio/system_path_win32.h"

namespace {

// The level opened as itself, or INVALID_HANDLE_VALUE when it is missing, is
// no directory or is a reparse point. The sharing check ignores a handle
// that holds attribute access alone; traverse access counts, so without
// delete sharing no one can rename or remove the level while it is held.
HANDLE hold_level(const std::wstring& path) {
  DWORD last_error = 0;
  const HANDLE handle = guarded_call(
      [&] {
        return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      },
      last_error);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool directory =
      guarded_ok([&] { return GetFileInformationByHandle(handle, &information); }) &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  if (directory) return handle;
  guarded_ok([&] { return CloseHandle(handle); });
  return INVALID_HANDLE_VALUE;
}

struct OutputRoot {
  std::wstring root;    // in its system form, ending in "\"; "" for none
  std::wstring parent;  // the parent last reached, relative to the root
  bool held = false;
  std::vector<HANDLE> levels;  // its levels below the root, held open

  void release() {
    for (HANDLE handle : levels) guarded_ok([&] { return CloseHandle(handle); });
    levels.clear();
    held = false;
  }
  ~OutputRoot() { release(); }
};

OutputRoot& output_root() {
  static OutputRoot state;
  return state;
}

}  // namespace

void set_output_root(const Text& outdir) {
  OutputRoot& state = output_root();
  state.release();
  const SystemPath target = system_path(outdir);
  state.root = target.device ? std::wstring() : target.path;
  if (!state.root.empty() && state.root.back() != L'\\') state.root += L'\\';
}

// Each file is reached afresh on Windows, so the parent is always probed.
bool parent_held(const Text&) {
  return false;
}

bool directory_known(const Text&) {
  return false;
}

bool hold_parent(const Text&) {
  return false;
}

LevelsMade make_levels(const Text& path) {
  OutputRoot& state = output_root();
  if (state.root.empty()) return LevelsMade::elsewhere;
  const SystemPath target = system_path(path);
  if (target.device) return LevelsMade::elsewhere;
  // Too long for the system, or not a path at all: no level of it is made.
  if (target.path.empty()) return LevelsMade::failed;
  const std::wstring whole = target.path + L'\\';
  if (state.root.starts_with(whole)) return LevelsMade::all_there;
  if (!whole.starts_with(state.root)) return LevelsMade::elsewhere;
  const std::wstring rest = target.path.substr(state.root.size());
  // On from the levels held open when the path lies at or below them; the
  // levels are held as they are reached, so that none can be replaced by a
  // link before the next one is made in it.
  size_t start = 0;
  if (state.held && rest.starts_with(state.parent) &&
      (rest.size() == state.parent.size() || rest[state.parent.size()] == L'\\')) {
    if (rest.size() == state.parent.size()) return LevelsMade::all_there;
    if (!state.parent.empty()) start = state.parent.size() + 1;
  } else {
    state.release();
  }
  state.held = false;
  std::wstring prefix = state.root + rest.substr(0, start);
  while (start < rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    prefix.append(rest, start, end - start);
    HANDLE handle = hold_level(prefix);
    if (handle == INVALID_HANDLE_VALUE) {
      // Made by another program in between, it is taken as it is found.
      guarded_ok([&] { return CreateDirectoryW(prefix.c_str(), nullptr); });
      handle = hold_level(prefix);
    }
    if (handle == INVALID_HANDLE_VALUE) {
      state.release();
      return LevelsMade::failed;
    }
    state.levels.push_back(handle);
    prefix += L'\\';
    start = end + 1;
  }
  state.parent = rest;
  state.held = true;
  return LevelsMade::all_there;
}

ParentLevel reach_parent(const Text& path) {
  OutputRoot& state = output_root();
  ParentLevel level;
  level.leaf = path;
  if (state.root.empty()) return level;
  const SystemPath target = system_path(path);
  if (target.device || !target.path.starts_with(state.root)) return level;
  const std::wstring rest = target.path.substr(state.root.size());
  const size_t separator = rest.rfind(L'\\');
  const std::wstring parent = separator == std::wstring::npos ? L"" : rest.substr(0, separator);
  level.place = PathPlace::refused;
  if (!state.held || parent != state.parent) {
    state.release();
    state.parent = parent;
    std::wstring prefix = state.root;
    size_t start = 0;
    while (start < parent.size()) {
      size_t end = parent.find(L'\\', start);
      if (end == std::wstring::npos) end = parent.size();
      prefix += parent.substr(start, end - start);
      const HANDLE handle = hold_level(prefix);
      if (handle == INVALID_HANDLE_VALUE) {
        state.release();
        return level;
      }
      state.levels.push_back(handle);
      prefix += L'\\';
      start = end + 1;
    }
    state.held = true;
  }
  level.place = PathPlace::below_root;
  return level;
}
