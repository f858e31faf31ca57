// The output root on Windows: each level of the directory last reached below
// the output directory is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT),
// checked to be a directory and no reparse point (symbolic link or
// junction), and held open without delete sharing, so it can be neither
// renamed nor replaced by a link while files are made in it. Every level of
// it stays held, not only the deepest: the system's calls take whole paths,
// which pass through every level again, so each one must stay what it was
// when it was reached. The held levels serve the next path through them.
// Paths are compared and levels opened in their system form (system_path),
// so that any spelling of the output directory ("/" or "\", trailing dots)
// and paths of any length are held alike. No handle is inherited by another
// program.
#include <windows.h>

#include <utility>
#include <vector>

#include "fileio/file_access.h"
#include "fileio/output_root.h"
#include "fileio/system_call_win32.h"
#include "fileio/system_path_win32.h"

namespace {

// The longest name of one level that the file systems of Windows hold, in
// UTF-16 units. Said before the system is asked, which names a longer one
// in other words (Wine: a path not found).
constexpr size_t kLongestName = 255;

// The level opened as itself, or INVALID_HANDLE_VALUE when it is missing, is
// no directory or is a reparse point (`failure` says which). The sharing
// check ignores a handle that holds attribute access alone; traverse access
// counts, so without delete sharing no one can rename or remove the level
// while it is held.
HANDLE hold_level(const std::wstring& path, Failure& failure) {
  DWORD last_error = 0;
  const HANDLE handle = guarded_call(
      [&] {
        return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      },
      last_error);
  if (handle == INVALID_HANDLE_VALUE) {
    failure = failure_of_system_error(last_error, Failure::vanished);
    return handle;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!guarded_ok([&] { return GetFileInformationByHandle(handle, &information); })) {
    failure = Failure::unknown;
  } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    failure = Failure::link_in_the_way;
  } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    failure = Failure::file_in_the_way;
  } else {
    return handle;
  }
  guarded_ok([&] { return CloseHandle(handle); });
  return INVALID_HANDLE_VALUE;
}

}  // namespace

struct HeldLevels {
  std::wstring root;           // in its system form, ending in "\"
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
  ~HeldLevels() { keep(0); }
};

namespace {

// How many of the levels held are the first levels of `rest` too.
size_t levels_shared(const HeldLevels& state, const std::wstring& rest) {
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
// on from the levels already held that it shares, making each missing level
// first. The levels are held as they are reached, so that none can be
// replaced by a link before the next one is made in it.
Reached hold_levels(HeldLevels& state, const std::wstring& rest) {
  Reached reached;
  state.keep(levels_shared(state, rest));
  size_t start = state.parent.empty() ? 0 : state.parent.size() + 1;
  std::wstring prefix = state.root + state.parent;
  if (!state.parent.empty()) prefix += L'\\';
  while (start < rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    prefix.append(rest, start, end - start);
    reached.at_level = true;
    if (end - start > kLongestName) {
      reached.failure = Failure::name_too_long;
      reached.levels_made = true;
      return reached;
    }
    // A level to be made is made first, as it mostly is not there yet; one
    // that is there is held as it is found (made by another program in
    // between, too).
    DWORD last_error = 0;
    if (guarded_call([&] { return CreateDirectoryW(prefix.c_str(), nullptr); }, last_error)) {
      reached.levels_made = true;
    } else if (last_error != ERROR_ALREADY_EXISTS) {
      reached.failure = failure_of_system_error(last_error);
      reached.levels_made = true;
      return reached;
    }
    const HANDLE handle = hold_level(prefix, reached.failure);
    if (handle == INVALID_HANDLE_VALUE) {
      // A level that is no directory above the last one: the directory
      // itself is not there either.
      if (end != rest.size()) reached.levels_made = true;
      return reached;
    }
    state.levels.push_back(handle);
    if (!state.parent.empty()) state.parent += L'\\';
    state.parent.append(rest, start, end - start);
    prefix += L'\\';
    start = end + 1;
  }
  reached.at_level = false;
  return reached;
}

// The part of `target` below the root, when it lies at or below it.
bool below_root(const HeldLevels& state, const std::wstring& target, std::wstring& rest) {
  const std::wstring whole = target + L'\\';
  if (state.root.starts_with(whole)) {
    rest.clear();
    return true;
  }
  if (!target.starts_with(state.root)) return false;
  rest = target.substr(state.root.size());
  return true;
}

HANDLE create_file(const std::wstring& path, DWORD creation, DWORD& last_error) {
  // The handle is never inherited by another program.
  return guarded_call(
      [&] {
        return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, creation,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      },
      last_error);
}

void close_handle(HANDLE handle) {
  guarded_ok([&] { return CloseHandle(handle); });
}

FileIdentity identity_of(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information) {
  FileIdentity identity;
  if (!guarded_ok([&] { return GetFileInformationByHandle(handle, &information); })) {
    return identity;
  }
  identity.known = true;
  identity.volume = information.dwVolumeSerialNumber;
  identity.file_id =
      (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return identity;
}

// Whether the file at `path`, which another opener holds, is the archive
// being read: its identity, asked through a handle that needs no sharing.
bool is_archive(const OutputRoot& root, const std::wstring& path) {
  DWORD last_error = 0;
  const HANDLE handle = guarded_call(
      [&] {
        return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      },
      last_error);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool archive = same_file(identity_of(handle, information), root.archive);
  close_handle(handle);
  return archive;
}

// A file already at `path`, opened for output and emptied: only a disk
// file that is no reparse point, has no other name (hard link), is not the
// archive and is held by no other opener (the open shares it with no one).
Failure open_existing(const OutputRoot& root, const std::wstring& path, FileRecord& file) {
  DWORD last_error = 0;
  const DWORD attributes =
      guarded_call([&] { return GetFileAttributesW(path.c_str()); }, last_error);
  // Something there that has no attributes to give is no file (Wine: a
  // FIFO, a device or a socket of the host).
  const bool odd = attributes == INVALID_FILE_ATTRIBUTES;
  if (odd && (last_error == ERROR_FILE_NOT_FOUND || last_error == ERROR_PATH_NOT_FOUND)) {
    return Failure::vanished;
  }
  if (!odd && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Failure::link_there;
  if (!odd && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Failure::directory_there;
  const HANDLE handle = create_file(path, OPEN_EXISTING, last_error);
  if (handle == INVALID_HANDLE_VALUE) {
    if (odd) return Failure::not_a_file;
    return last_error == ERROR_SHARING_VIOLATION && is_archive(root, path)
               ? Failure::the_archive
               : failure_of_system_error(last_error);
  }
  Failure failure = Failure::none;
  BY_HANDLE_FILE_INFORMATION information{};
  FileIdentity identity;
  if (guarded_call([&] { return GetFileType(handle); }, last_error) != FILE_TYPE_DISK) {
    failure = Failure::not_a_file;
  } else if (identity = identity_of(handle, information); !identity.known) {
    failure = Failure::unknown;
  } else {
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      failure = Failure::link_there;
    } else if (information.nNumberOfLinks > 1) {
      failure = Failure::other_names;
    } else if (same_file(identity, root.archive)) {
      failure = Failure::the_archive;
    }
  }
  if (failure != Failure::none) {
    close_handle(handle);
    return failure;
  }
  file.handle = reinterpret_cast<intptr_t>(handle);
  file.kind = FileKind::output;
  file.disk_file = true;
  file.identity = identity;
  file.length = static_cast<int64_t>((static_cast<uint64_t>(information.nFileSizeHigh) << 32) |
                                     information.nFileSizeLow);
  if (guarded_ok([&] { return SetEndOfFile(handle); })) file.length = 0;
  return Failure::none;
}

// Why a path has no system form: a NUL byte (which would end the name early
// and reach another one), else a length past the system's limit.
Failure unreachable(const Text& path) {
  return path.find('\0') != Text::npos ? Failure::invalid_name : Failure::name_too_long;
}

}  // namespace

OutputRoot::OutputRoot() = default;
OutputRoot::OutputRoot(OutputRoot&&) noexcept = default;
OutputRoot& OutputRoot::operator=(OutputRoot&&) noexcept = default;
OutputRoot::~OutputRoot() = default;

bool open_output_root(const Text& outdir, const FileIdentity& archive, OutputRoot& root) {
  root = OutputRoot();
  root.archive = archive;
  root.root = outdir;
  const SystemPath target = system_path(outdir);
  if (target.device || target.path.empty()) {
    root.unusable = Failure::invalid_name;
    return false;
  }
  auto held = std::make_unique<HeldLevels>();
  held->root = target.path;
  if (held->root.back() != L'\\') held->root += L'\\';
  root.held = std::move(held);
  return true;
}

Reached make_directories(OutputRoot& root, const Text& path) {
  if (root.held == nullptr) return Reached{true, root.unusable, true};
  const SystemPath target = system_path(path);
  // Too long for the system, or not a path at all: no level of it is made.
  if (target.path.empty()) return Reached{true, unreachable(path), true};
  std::wstring rest;
  if (target.device || !below_root(*root.held, target.path, rest)) {
    return Reached{true, Failure::unknown, true};
  }
  return hold_levels(*root.held, rest);
}

Reached open_member_file(OutputRoot& root, const Text& path, FileRecord& file) {
  close_file(file);
  if (root.held == nullptr) return Reached{false, root.unusable, false};
  const SystemPath target = system_path(path);
  if (target.path.empty()) {
    const Failure failure = unreachable(path);
    return Reached{failure == Failure::name_too_long, failure, failure == Failure::name_too_long};
  }
  std::wstring rest;
  if (target.device || !below_root(*root.held, target.path, rest)) {
    return Reached{false, Failure::unknown, false};
  }
  if (rest.empty()) return Reached{false, Failure::directory_name, false};
  const size_t separator = rest.rfind(L'\\');
  Reached reached =
      hold_levels(*root.held, separator == std::wstring::npos ? L"" : rest.substr(0, separator));
  if (reached.failure != Failure::none) return reached;
  if (separator == rest.size() - 1) {
    reached.failure = Failure::directory_name;
    return reached;
  }
  if (rest.size() - (separator == std::wstring::npos ? 0 : separator + 1) > kLongestName) {
    reached.failure = Failure::name_too_long;
    return reached;
  }
  // Most output files are new: made here, they are empty files with one
  // name, so nothing about them needs asking but that they are disk files (a
  // device name opens its device). CREATE_NEW fails on anything already
  // there, a link included.
  DWORD last_error = 0;
  const HANDLE created = create_file(target.path, CREATE_NEW, last_error);
  if (created != INVALID_HANDLE_VALUE) {
    if (guarded_call([&] { return GetFileType(created); }, last_error) != FILE_TYPE_DISK) {
      close_handle(created);
      reached.failure = Failure::not_a_file;
      return reached;
    }
    file.handle = reinterpret_cast<intptr_t>(created);
    file.kind = FileKind::output;
    file.disk_file = true;
    file.length = 0;
    return reached;
  }
  // Something already there (a directory there is refused as access
  // denied) is looked at; else the error is the reason.
  DWORD probe_error = 0;
  const bool there = last_error == ERROR_FILE_EXISTS || last_error == ERROR_ALREADY_EXISTS ||
                     guarded_call([&] { return GetFileAttributesW(target.path.c_str()); },
                                  probe_error) != INVALID_FILE_ATTRIBUTES;
  reached.failure =
      there ? open_existing(root, target.path, file) : failure_of_system_error(last_error);
  return reached;
}
