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
  std::wstring root;           // in its system form, ending in "\"; "" for none
  std::wstring parent;         // the levels held, relative to the root ("a\b"; "" for none)
  std::vector<HANDLE> levels;  // one per level of `parent`, held open

  // Keeps the first `count` levels held and lets the deeper ones go.
  void keep(size_t count) {
    while (levels.size() > count) {
      guarded_ok([&] { return CloseHandle(levels.back()); });
      levels.pop_back();
      const size_t separator = parent.rfind(L'\\');
      parent.resize(separator == std::wstring::npos ? 0 : separator);
    }
  }
  void release() { keep(0); }
  ~OutputRoot() { release(); }
};

OutputRoot& output_root() {
  static OutputRoot state;
  return state;
}

// How many of the levels held are the first levels of `rest` too.
size_t levels_shared(const OutputRoot& state, const std::wstring& rest) {
  size_t shared = 0;
  size_t at = 0;
  while (shared < state.levels.size()) {
    size_t end = state.parent.find(L'\\', at);
    if (end == std::wstring::npos) end = state.parent.size();
    const bool same = rest.size() >= end && rest.compare(0, end, state.parent, 0, end) == 0 &&
                      (rest.size() == end || rest[end] == L'\\');
    if (!same) break;
    ++shared;
    at = end + 1;
  }
  return shared;
}

// Holds each level of `rest` (below the root; "" for the root itself), going
// on from the levels already held that it shares; with `make`, a missing
// level is made first. The levels are held as they are reached, so that none
// can be replaced by a link before the next one is made in it. False when a
// level is missing, is no directory or is a reparse point, or cannot be made.
bool hold_levels(OutputRoot& state, const std::wstring& rest, bool make) {
  state.keep(levels_shared(state, rest));
  size_t start = state.parent.empty() ? 0 : state.parent.size() + 1;
  std::wstring prefix = state.root + state.parent;
  if (!state.parent.empty()) prefix += L'\\';
  while (start < rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    prefix.append(rest, start, end - start);
    // A level to be made is made first, as it mostly is not there yet; one
    // that is there is held as it is found (made by another program in
    // between, too).
    if (make) guarded_ok([&] { return CreateDirectoryW(prefix.c_str(), nullptr); });
    const HANDLE handle = hold_level(prefix);
    if (handle == INVALID_HANDLE_VALUE) return false;
    state.levels.push_back(handle);
    if (!state.parent.empty()) state.parent += L'\\';
    state.parent.append(rest, start, end - start);
    prefix += L'\\';
    start = end + 1;
  }
  return true;
}

}  // namespace

void set_output_root(const Text& outdir) {
  OutputRoot& state = output_root();
  state.release();
  const SystemPath target = system_path(outdir);
  state.root = target.device ? std::wstring() : target.path;
  if (!state.root.empty() && state.root.back() != L'\\') state.root += L'\\';
}

// The parent's levels are held when the file's open reaches them, so a
// parent reached is known to be there; but a path is compared in its system
// form, which is made anew for each file: no parent counts as held before.
bool parent_held(const Text&) {
  return false;
}

bool directory_known(const Text&) {
  return false;
}

bool hold_parent(const Text& path) {
  return reach_parent(path).place == PathPlace::below_root;
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
  return hold_levels(state, target.path.substr(state.root.size()), true) ? LevelsMade::all_there
                                                                         : LevelsMade::failed;
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
  level.place = PathPlace::refused;
  if (!hold_levels(state, separator == std::wstring::npos ? L"" : rest.substr(0, separator),
                   false)) {
    return level;
  }
  level.place = PathPlace::below_root;
  return level;
}
