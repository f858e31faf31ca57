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

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "fileio/archive_source.h"
#include "fileio/file_access.h"
#include "fileio/output_root.h"
#include "fileio/system_call_win32.h"
#include "fileio/system_path_win32.h"
#include "text/wide_text_win32.h"

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

// A level held open, and the level above it: each keeps the one above held
// while it is, so whoever holds a level (the output root, a file being made
// in it on another thread) holds its whole path.
struct LevelHandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::shared_ptr<const LevelHandle> above;
  LevelHandle(HANDLE held, std::shared_ptr<const LevelHandle> parent)
      : handle(held), above(std::move(parent)) {}
  LevelHandle(const LevelHandle&) = delete;
  LevelHandle& operator=(const LevelHandle&) = delete;
  ~LevelHandle() {
    guarded_ok([&] { return CloseHandle(handle); });
  }
};

struct HeldLevels {
  std::wstring root;    // in its system form, ending in "\"
  std::wstring parent;  // the levels held, relative to the root ("a\b"; "" for none)
  // One per level of `parent`, held open.
  std::vector<std::shared_ptr<const LevelHandle>> levels;
  // Names made to replace what stood at a name, by every thread.
  mutable std::atomic<unsigned> temporaries{0};

  // Keeps the first `count` levels held and lets the deeper ones go.
  void keep(size_t count) {
    while (levels.size() > count) {
      levels.pop_back();
      const size_t separator = parent.rfind(L'\\');
      parent.resize(separator == std::wstring::npos ? 0 : separator);
    }
  }
  ~HeldLevels() { keep(0); }

  std::shared_ptr<const LevelHandle> deepest() const {
    return levels.empty() ? nullptr : levels.back();
  }
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
Reached hold_levels(HeldLevels& state, const std::wstring& rest, bool make) {
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
    if (!make) {
      // Only looked for: a missing level is said by the hold below.
    } else if (guarded_call([&] { return CreateDirectoryW(prefix.c_str(), nullptr); },
                            last_error)) {
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
    state.levels.push_back(std::make_shared<const LevelHandle>(handle, state.deepest()));
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

// Opens `path` as itself (never through a reparse point) with `access`,
// sharing it with readers and writers but never with a rename or delete.
HANDLE open_as_itself(const std::wstring& path, DWORD access, DWORD& last_error) {
  return guarded_call(
      [&] {
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
      },
      last_error);
}

// Opens `path` as itself to look at its attributes, in the way of no one.
HANDLE look_at(const std::wstring& path, DWORD& last_error) {
  return guarded_call(
      [&] {
        return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      },
      last_error);
}

// What stands at `path`, not following a reparse point.
Standing standing_at(const std::wstring& path) {
  DWORD last_error = 0;
  const DWORD attributes =
      guarded_call([&] { return GetFileAttributesW(path.c_str()); }, last_error);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Nothing can stand at a name the system cannot hold; anything else
    // that has no attributes to give is a host's FIFO, device or socket
    // (Wine).
    const bool none = last_error == ERROR_FILE_NOT_FOUND || last_error == ERROR_PATH_NOT_FOUND ||
                      last_error == ERROR_INVALID_NAME || last_error == ERROR_BAD_PATHNAME ||
                      last_error == ERROR_FILENAME_EXCED_RANGE;
    return none ? Standing::nothing : Standing::other;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Standing::link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Standing::directory;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return Standing::other;
  return Standing::file;
}

// Why nothing may take the place of what stands at `path`: a directory, a
// device, FIFO or socket, or the archive itself. `none` for a file or link,
// which a new file or link replaces.
Failure not_replaceable(const OutputRoot& root, const std::wstring& path) {
  switch (standing_at(path)) {
    case Standing::directory:
      return Failure::directory_there;
    case Standing::other:
      return Failure::not_a_file;
    case Standing::nothing:
      return Failure::vanished;
    case Standing::link:
      return Failure::none;
    case Standing::file:
      break;
  }
  DWORD last_error = 0;
  const HANDLE handle = look_at(path, last_error);
  if (handle == INVALID_HANDLE_VALUE) return Failure::not_a_file;
  BY_HANDLE_FILE_INFORMATION information{};
  Failure failure = Failure::none;
  if (guarded_call([&] { return GetFileType(handle); }, last_error) != FILE_TYPE_DISK) {
    failure = Failure::not_a_file;
  } else if (same_file(identity_of(handle, information), root.archive)) {
    failure = Failure::the_archive;
  }
  close_handle(handle);
  return failure;
}

// When this process started, in the units of a file's times.
uint64_t process_start() {
  FILETIME created{};
  FILETIME ended{};
  FILETIME kernel{};
  FILETIME user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return UINT64_MAX;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// What follows the last separator.
std::wstring last_component(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// Names that differ only in case name one file on Windows: when the file at
// `path` (about to be replaced) was made since this process started under a
// name that differs from `path`'s only in case, that name as stored; else
// "". Told without keeping any name: the time the system says the file last
// changed, against the process's start (the time it was made is no help:
// Wine gives its last write, which the member's time has set back).
std::wstring made_in_other_case(const std::wstring& path) {
  DWORD last_error = 0;
  const HANDLE handle = look_at(path, last_error);
  if (handle == INVALID_HANDLE_VALUE) return L"";
  std::wstring stored;
  FILE_BASIC_INFO basic{};
  std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
  auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
      static_cast<uint64_t>(basic.ChangeTime.QuadPart) >= process_start() &&
      GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(buffer.size()))) {
    stored = last_component(std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t)));
  }
  close_handle(handle);
  const std::wstring given = last_component(path);
  // The same name again is a later version of the member, as an archive may
  // hold; only a name in other case is another member's.
  if (stored.empty() || stored == given ||
      CompareStringOrdinal(stored.data(), static_cast<int>(stored.size()), given.data(),
                           static_cast<int>(given.size()), TRUE) != CSTR_EQUAL) {
    return L"";
  }
  return stored;
}

// A name beside `path` (in its directory) to make a file or link under
// before it takes the place of what stands at `path`.
std::wstring temporary_beside(const HeldLevels& state, const std::wstring& path) {
  wchar_t name[40];
  std::swprintf(name, 40, L".holvex-%lu-%u", static_cast<unsigned long>(GetCurrentProcessId()),
                ++state.temporaries);
  return path.substr(0, path.rfind(L'\\') + 1) + name;
}

// Puts the file open as `handle` in the place of what stands at `path`.
bool rename_over(HANDLE handle, const std::wstring& path, DWORD& last_error) {
  const size_t bytes = sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(bytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::copy(path.begin(), path.end(), rename->FileName);
  return guarded_call(
      [&] {
        return SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                          static_cast<DWORD>(bytes));
      },
      last_error);
}

// Whether some program holds the file at `path` open: a file open anywhere
// cannot be replaced, and the rename that tries is refused as access denied,
// which would give the wrong reason.
bool held_open(const std::wstring& path) {
  DWORD last_error = 0;
  const HANDLE handle = guarded_call(
      [&] {
        return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      },
      last_error);
  if (handle != INVALID_HANDLE_VALUE) close_handle(handle);
  return handle == INVALID_HANDLE_VALUE && last_error == ERROR_SHARING_VIOLATION;
}

// Removes the file open as `handle` when it is closed.
void delete_on_close(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  guarded_ok([&] {
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition);
  });
}

// A FILETIME from a time since 1970; false before 1601, where none is.
bool file_time_of(const FileTime& time, FILETIME& file_time) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kTicksTo1970 = 116444736000000000;
  if (!time.known || time.seconds < -kTicksTo1970 / kTicksPerSecond ||
      time.seconds > (INT64_MAX - kTicksTo1970) / kTicksPerSecond - 1) {
    return false;
  }
  const int64_t ticks = time.seconds * kTicksPerSecond + time.nanoseconds / 100 + kTicksTo1970;
  if (ticks < 0) return false;
  file_time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
  file_time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return true;
}

void set_time(HANDLE handle, const FileTime& time) {
  FILETIME written;
  if (!file_time_of(time, written)) return;
  guarded_ok([&] { return SetFileTime(handle, nullptr, nullptr, &written); });
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
  return hold_levels(*root.held, rest, true);
}

namespace {

// Reaches the directory of `path` (below the root), making its missing
// levels, and gives the path's system form.
Reached locate(OutputRoot& root, const Text& path, std::wstring& full, bool make = true) {
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
  Reached reached = hold_levels(
      *root.held, separator == std::wstring::npos ? L"" : rest.substr(0, separator), make);
  if (reached.failure != Failure::none) return reached;
  if (separator == rest.size() - 1) {
    reached.failure = Failure::directory_name;
  } else if (rest.size() - (separator == std::wstring::npos ? 0 : separator + 1) > kLongestName) {
    reached.failure = Failure::name_too_long;
  }
  full = target.path;
  return reached;
}

void take_output(FileRecord& file, HANDLE handle) {
  file.handle = reinterpret_cast<intptr_t>(handle);
  file.kind = FileKind::output;
  file.disk_file = true;
  file.length = 0;
}

}  // namespace

namespace {

// A file's place: the levels of its directory, held while the file is
// made there, and its whole path.
struct PlacedFile {
  std::shared_ptr<const LevelHandle> directory;
  std::wstring full;
  Text path;  // as the program holds it
};

}  // namespace

Reached prepare_member_file(OutputRoot& root, const Text& path, PreparedFile& prepared) {
  prepared.place.reset();
  auto placed = std::make_shared<PlacedFile>();
  Reached reached = locate(root, path, placed->full);
  if (reached.failure != Failure::none) return reached;
  placed->directory = root.held->deepest();
  placed->path = path;
  prepared.place = std::move(placed);
  return reached;
}

Failure open_prepared_file(const OutputRoot& root, const PreparedFile& prepared, int32_t,
                           FileRecord& file) {
  close_file(file);
  const auto* placed = static_cast<const PlacedFile*>(prepared.place.get());
  if (placed == nullptr || root.held == nullptr) return Failure::unknown;
  const std::wstring& full = placed->full;
  // Most output files are new: made here, they are empty files with one
  // name, so nothing about them needs asking. CREATE_NEW fails on anything
  // already there, a link included.
  DWORD last_error = 0;
  HANDLE created = create_file(full, CREATE_NEW, last_error);
  if (created == INVALID_HANDLE_VALUE) {
    // Something already there (a directory there is refused as access
    // denied) is looked at; else the error is the reason.
    const bool there = last_error == ERROR_FILE_EXISTS || last_error == ERROR_ALREADY_EXISTS ||
                       standing_at(full) != Standing::nothing;
    if (!there) return failure_of_system_error(last_error);
    // A file or a link there is replaced, never written into: the file is
    // made under another name and put in the old one's place before a byte
    // is written, so the old file's other names keep their bytes.
    const Failure failure = not_replaceable(root, full);
    if (failure != Failure::none) return failure;
    const std::wstring earlier = made_in_other_case(full);
    if (!earlier.empty()) {
      const size_t separator = placed->path.find_last_of("\\/");
      file.written_over = placed->path.substr(0, separator + 1) + utf8_of(earlier);
    }
    do {
      const std::wstring temporary = temporary_beside(*root.held, full);
      created = guarded_call(
          [&] {
            return CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
          },
          last_error);
    } while (created == INVALID_HANDLE_VALUE &&
             (last_error == ERROR_FILE_EXISTS || last_error == ERROR_ALREADY_EXISTS));
    if (created == INVALID_HANDLE_VALUE || !rename_over(created, full, last_error)) {
      const Failure why = last_error == ERROR_ACCESS_DENIED && held_open(full)
                              ? Failure::in_use
                              : failure_of_system_error(last_error);
      if (created != INVALID_HANDLE_VALUE) {
        delete_on_close(created);
        close_handle(created);
      }
      return why;
    }
  }
  // Made new (or in the place of a file): a disk file, since no device's
  // name ever reaches here (the output root refuses it as it is located).
  take_output(file, created);
  return Failure::none;
}

Reached open_member_file(OutputRoot& root, const Text& path, int32_t mode, FileRecord& file) {
  PreparedFile prepared;
  Reached reached = prepare_member_file(root, path, prepared);
  if (reached.failure == Failure::none)
    reached.failure = open_prepared_file(root, prepared, mode, file);
  return reached;
}

void settle_file(const OutputRoot&, FileRecord& file, const FileSettings& settings) {
  if (is_open(file)) set_time(reinterpret_cast<HANDLE>(file.handle), settings.time);
}

Reached finish_directory(OutputRoot& root, const Text& path, const FileSettings& settings) {
  std::wstring full;
  Reached reached = locate(root, path, full, false);
  // The output directory itself ("./" in the archive).
  if (reached.failure == Failure::directory_name && !reached.at_level && root.held != nullptr) {
    full = root.held->root;
    reached.failure = Failure::none;
  }
  if (reached.failure != Failure::none || !settings.time.known) return reached;
  DWORD last_error = 0;
  const HANDLE handle = open_as_itself(full, FILE_WRITE_ATTRIBUTES, last_error);
  if (handle == INVALID_HANDLE_VALUE) {
    reached.failure = failure_of_system_error(last_error);
    return reached;
  }
  if (standing_at(full) == Standing::directory) set_time(handle, settings.time);
  close_handle(handle);
  return reached;
}

Standing what_stands(OutputRoot& root, const Text& path) {
  std::wstring full;
  const Reached reached = locate(root, path, full, false);
  // A level that is not there: nothing is there.
  if (reached.failure == Failure::vanished) return Standing::nothing;
  if (reached.failure != Failure::none) return Standing::other;
  return standing_at(full);
}

Reached open_extracted_file(OutputRoot& root, const Text& path, FileRecord& file) {
  close_file(file);
  std::wstring full;
  Reached reached = locate(root, path, full, false);
  if (reached.failure != Failure::none) return reached;
  if (standing_at(full) != Standing::file) return Reached{false, Failure::not_a_file, false};
  DWORD last_error = 0;
  const HANDLE handle = open_as_itself(full, GENERIC_READ, last_error);
  if (handle == INVALID_HANDLE_VALUE)
    return Reached{false, failure_of_system_error(last_error), false};
  BY_HANDLE_FILE_INFORMATION information{};
  file.handle = reinterpret_cast<intptr_t>(handle);
  file.kind = FileKind::binary;
  file.disk_file = true;
  file.identity = identity_of(handle, information);
  file.length = static_cast<int64_t>((static_cast<uint64_t>(information.nFileSizeHigh) << 32) |
                                     information.nFileSizeLow);
  file.source = &kPlainSource;
  return reached;
}

Reached make_hard_link(OutputRoot& root, const Text& path, const Text& target) {
  std::wstring target_full;
  Reached reached = locate(root, target, target_full, false);
  if (reached.failure != Failure::none) return Reached{false, reached.failure, false};
  const Failure refused = link_target_refusal(standing_at(target_full));
  if (refused != Failure::none) return Reached{false, refused, false};
  // Held without delete sharing, the target cannot be replaced while it
  // gets its new name.
  DWORD last_error = 0;
  const HANDLE held = open_as_itself(target_full, FILE_READ_ATTRIBUTES, last_error);
  if (held == INVALID_HANDLE_VALUE)
    return Reached{false, failure_of_system_error(last_error), false};
  std::wstring full;
  reached = locate(root, path, full);
  if (reached.failure == Failure::none) {
    bool made = guarded_call(
        [&] { return CreateHardLinkW(full.c_str(), target_full.c_str(), nullptr); }, last_error);
    if (!made && (last_error == ERROR_ALREADY_EXISTS || last_error == ERROR_FILE_EXISTS)) {
      reached.failure = not_replaceable(root, full);
      if (reached.failure == Failure::none) {
        std::wstring temporary;
        do {
          temporary = temporary_beside(*root.held, full);
          made = guarded_call(
              [&] { return CreateHardLinkW(temporary.c_str(), target_full.c_str(), nullptr); },
              last_error);
        } while (!made && (last_error == ERROR_ALREADY_EXISTS || last_error == ERROR_FILE_EXISTS));
        if (made && !guarded_call(
                        [&] {
                          return MoveFileExW(temporary.c_str(), full.c_str(),
                                             MOVEFILE_REPLACE_EXISTING);
                        },
                        last_error)) {
          made = false;
          guarded_ok([&] { return DeleteFileW(temporary.c_str()); });
        }
      }
    }
    if (reached.failure == Failure::none && !made) {
      // A file system without hard links, or a file at its limit of them:
      // the caller copies the file instead.
      const bool refused =
          last_error == ERROR_NOT_SAME_DEVICE || last_error == ERROR_TOO_MANY_LINKS ||
          last_error == ERROR_INVALID_FUNCTION || last_error == ERROR_NOT_SUPPORTED;
      reached.failure = refused ? Failure::links_refused : failure_of_system_error(last_error);
    }
  }
  close_handle(held);
  return reached;
}

Reached make_symbolic_link(OutputRoot& root, const Text& path, const Text& target,
                           bool target_directory, const FileTime& time) {
  std::wstring full;
  Reached reached = locate(root, path, full);
  if (reached.failure != Failure::none) return reached;
  const std::optional<std::wstring> wide = wide_name(target);
  if (!wide) {
    reached.failure = Failure::invalid_name;
    return reached;
  }
  std::wstring link_target = *wide;
  for (wchar_t& c : link_target) {
    if (c == L'/') c = L'\\';
  }
  // Developer Mode lets a plain user make links; a directory's is apart.
  constexpr DWORD kUnprivileged = 0x2;
  const DWORD flags = kUnprivileged | (target_directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  std::wstring made_at = full;
  if (standing_at(full) != Standing::nothing) {
    reached.failure = not_replaceable(root, full);
    if (reached.failure != Failure::none) return reached;
    made_at = temporary_beside(*root.held, full);
  }
  DWORD last_error = 0;
  // A system that answers without making the link (Wine's answers yes and
  // makes nothing) makes none: that is looked at.
  if (!guarded_call(
          [&] { return CreateSymbolicLinkW(made_at.c_str(), link_target.c_str(), flags); },
          last_error) ||
      standing_at(made_at) != Standing::link) {
    if (last_error == 0) last_error = ERROR_NOT_SUPPORTED;
    const bool refused =
        last_error == ERROR_PRIVILEGE_NOT_HELD || last_error == ERROR_INVALID_FUNCTION ||
        last_error == ERROR_NOT_SUPPORTED || last_error == ERROR_CALL_NOT_IMPLEMENTED;
    // The levels made for it stay, and are said.
    reached.failure = refused ? Failure::links_refused : failure_of_system_error(last_error);
    return reached;
  }
  if (made_at != full &&
      !guarded_call(
          [&] { return MoveFileExW(made_at.c_str(), full.c_str(), MOVEFILE_REPLACE_EXISTING); },
          last_error)) {
    guarded_ok([&] { return RemoveDirectoryW(made_at.c_str()) || DeleteFileW(made_at.c_str()); });
    reached.failure = failure_of_system_error(last_error);
    return reached;
  }
  const HANDLE link = open_as_itself(full, FILE_WRITE_ATTRIBUTES, last_error);
  if (link != INVALID_HANDLE_VALUE) {
    set_time(link, time);
    close_handle(link);
  }
  return reached;
}

namespace {

// A symbolic link's reparse data, as FSCTL_GET_REPARSE_POINT gives it (the
// layout the system documents; not every set of headers declares it).
struct SymbolicLinkData {
  ULONG tag;
  USHORT data_length;
  USHORT reserved;
  USHORT substitute_offset;
  USHORT substitute_length;
  USHORT print_offset;
  USHORT print_length;
  ULONG flags;
  WCHAR names[1];
};
constexpr ULONG kRelativeLink = 1;  // SYMLINK_FLAG_RELATIVE

}  // namespace

bool read_link(OutputRoot& root, const Text& path, Text& target) {
  std::wstring full;
  if (locate(root, path, full, false).failure != Failure::none) return false;
  if (standing_at(full) != Standing::link) return false;
  DWORD last_error = 0;
  const HANDLE handle = open_as_itself(full, FILE_READ_ATTRIBUTES, last_error);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD returned = 0;
  const bool read = guarded_ok([&] {
    return DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                           static_cast<DWORD>(buffer.size()), &returned, nullptr);
  });
  close_handle(handle);
  const auto* data = reinterpret_cast<const SymbolicLinkData*>(buffer.data());
  // A junction, an absolute link or any other reparse point leads away
  // from here: as an absolute target, which no resolution passes.
  if (!read || returned < sizeof(SymbolicLinkData) || data->tag != IO_REPARSE_TAG_SYMLINK ||
      (data->flags & kRelativeLink) == 0) {
    target.assign(1, '\\');
    return true;
  }
  const WCHAR* name = data->names + data->substitute_offset / sizeof(WCHAR);
  target = utf8_of(name, data->substitute_length / sizeof(WCHAR));
  return true;
}

Text compared_path(const Text& path) {
  std::optional<std::wstring> wide = wide_name(path);
  if (!wide || wide->empty()) return path;
  // The system's upper case of each character, as the file system compares
  // names (locale-free).
  std::wstring upper(wide->size(), L'\0');
  const int made = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide->data(),
                                 static_cast<int>(wide->size()), upper.data(),
                                 static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (made <= 0) return path;
  upper.resize(static_cast<size_t>(made));
  return utf8_of(upper);
}
