// The output root on POSIX: a descriptor of the output directory, and the
// levels of the directory last reached below it, each opened from the one
// above with openat(O_NOFOLLOW | O_DIRECTORY). Members come grouped by
// directory, and an archive's directories come in the order of a walk of its
// tree, so a level reached once serves every later path through it: going
// from one directory to the next costs the levels that differ, never the
// whole path again. O_PATH descriptors need no read permission on the
// directories they name. A member's file is opened in the deepest level with
// openat, so no link below the output directory is ever followed. Nothing is
// made in a directory on one of the kernel's interface file systems (/proc,
// /sys).
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "fileio/file_access.h"
#include "fileio/file_identity_posix.h"
#include "fileio/kernel_file_system_posix.h"
#include "fileio/output_root.h"

namespace {

#ifdef O_PATH
constexpr int kLevelFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kLevelFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The deepest levels held open at once; the descriptors of those above them
// are closed, and opened again from the nearest one held if a path goes back
// up there. Paths of thousands of levels stay far below the process's limit
// of open files.
constexpr size_t kLevelsHeldOpen = 32;

// A directory path of more levels than this is not made. Each level costs a
// directory on disk (a block of 4 KiB on most file systems) and some tens of
// microseconds to make: a path of millions of levels, a few kilobytes in a
// compressed archive, would take gigabytes and many minutes. No real path
// comes near: Windows takes at most 16,384 levels (32,767 characters), and
// on POSIX the calls that take a whole path stop at 4,096 bytes.
constexpr std::ptrdiff_t kDeepestPath = 65536;

// The path with runs of "/" as one and without its "." components, which
// name the level they stand in: every spelling of a directory is held as
// one.
Text collapsed(const Text& path) {
  Text result;
  for (char c : path) {
    if (c != '/' || result.empty() || result.back() != '/') result += c;
    const size_t size = result.size();
    const bool dot_level = size >= 2 && result[size - 2] == '.' && result[size - 1] == '/' &&
                           (size == 2 || result[size - 3] == '/');
    if (dot_level) result.resize(size - 2);
  }
  if (result.size() >= 2 && result.ends_with("/.")) result.resize(result.size() - 1);
  return result;
}

int open_retrying(int directory, const char* name, int flags) {
  int fd;
  do {
    fd = ::openat(directory, name, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool close_descriptor(int fd) {
  return ::close(fd) == 0 || errno == EINTR;
}

Failure errno_failure() {
  return failure_of_system_error(static_cast<uint32_t>(errno));
}

enum class FileSystem { unknown, ordinary, kernel };

// One level of the path held below the output directory.
struct Level {
  size_t end = 0;  // where its name ends in the held path
  int fd = -1;     // -1 once closed (it lies above the levels held open)
  FileSystem file_system = FileSystem::unknown;
};

}  // namespace

struct HeldLevels {
  int root_fd = -1;
  FileSystem root_file_system = FileSystem::unknown;
  Text root;                  // collapsed, ending in "/"
  Text held;                  // the levels held, relative to the root ("a/b"; "" for none)
  std::vector<Level> levels;  // one per level of `held`

  // Keeps the first `count` levels and lets the deeper ones go.
  void keep(size_t count) {
    while (levels.size() > count) {
      if (levels.back().fd >= 0) ::close(levels.back().fd);
      levels.pop_back();
    }
    held.resize(levels.empty() ? 0 : levels.back().end);
  }
  ~HeldLevels() {
    keep(0);
    if (root_fd >= 0) ::close(root_fd);
  }

  int deepest_fd() const { return levels.empty() ? root_fd : levels.back().fd; }
  FileSystem& deepest_file_system() {
    return levels.empty() ? root_file_system : levels.back().file_system;
  }
};

namespace {

// How many of the levels held are the first levels of `relative` too.
size_t levels_shared(const HeldLevels& state, std::string_view relative) {
  size_t shared = 0;
  for (const Level& level : state.levels) {
    const bool same = relative.size() >= level.end &&
                      relative.compare(0, level.end, state.held, 0, level.end) == 0 &&
                      (relative.size() == level.end || relative[level.end] == '/');
    if (!same) break;
    ++shared;
  }
  return shared;
}

// Holds one more level, made or found in the deepest one held, closing the
// descriptor of the level that falls out of those held open.
void push_level(HeldLevels& state, std::string_view name, int fd, FileSystem file_system) {
  if (!state.held.empty()) state.held += '/';
  state.held += name;
  state.levels.push_back(Level{state.held.size(), fd, file_system});
  if (state.levels.size() > kLevelsHeldOpen) {
    Level& above = state.levels[state.levels.size() - 1 - kLevelsHeldOpen];
    if (above.fd >= 0) ::close(above.fd);
    above.fd = -1;
  }
}

// Whether something may be made in the deepest level held: not on one of the
// kernel's interface file systems (a new file there can be a setting: an EFI
// variable, a cgroup). Asked once per level; a level made here lies on its
// parent's file system.
bool may_make_in_deepest(HeldLevels& state) {
  FileSystem& file_system = state.deepest_file_system();
  if (file_system == FileSystem::unknown) {
    file_system =
        on_ordinary_file_system(state.deepest_fd()) ? FileSystem::ordinary : FileSystem::kernel;
  }
  return file_system == FileSystem::ordinary;
}

// Why `name` in `directory` could not be opened as a directory: a link and a
// file are told apart by a look at the entry itself.
Failure level_failure(int directory, const char* name) {
  const int error = errno;
  if (error != ENOTDIR && error != ELOOP) return failure_of_system_error(error, Failure::vanished);
  struct stat status;
  if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
    return Failure::link_in_the_way;
  }
  return Failure::file_in_the_way;
}

// Holds the directory `relative` (below the root; "" for the root itself),
// level by level from those already held, making each missing level. At a
// failure the levels above it stay held.
Reached reach(HeldLevels& state, std::string_view relative) {
  Reached reached;
  if (state.root_fd < 0) {
    reached.failure = Failure::vanished;
    reached.at_level = true;
    return reached;
  }
  if (std::count(relative.begin(), relative.end(), '/') >= kDeepestPath) {
    reached.failure = Failure::too_deep;
    reached.at_level = true;
    reached.levels_made = true;
    return reached;
  }
  size_t shared = levels_shared(state, relative);
  // The nearest level whose descriptor is still open is where the walk
  // starts again; the levels below it down to `known` were reached before
  // and are opened again without being made.
  const size_t known = shared;
  while (shared > 0 && state.levels[shared - 1].fd < 0) --shared;
  state.keep(shared);
  size_t start = shared == 0 ? 0 : state.levels[shared - 1].end + 1;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    const Text name(relative.substr(start, end - start));
    const bool last = end == relative.size();
    reached.at_level = true;
    // A level to be made is made first, as it mostly is not there yet: one
    // that is there (a directory, or anything else, which the open then
    // refuses) is opened as it is found. mkdirat never follows a link.
    if (!may_make_in_deepest(state)) {
      reached.failure = Failure::kernel_files;
      reached.levels_made = true;
      return reached;
    }
    FileSystem file_system = FileSystem::unknown;
    if (state.levels.size() < known) {
      // Reached before: a directory, opened again below.
    } else if (::mkdirat(state.deepest_fd(), name.c_str(), 0777) == 0) {
      file_system = state.deepest_file_system();
      reached.levels_made = true;
    } else if (errno != EEXIST) {
      reached.failure = errno_failure();
      reached.levels_made = true;
      return reached;
    }
    const int next = open_retrying(state.deepest_fd(), name.c_str(), kLevelFlags | O_NOFOLLOW);
    if (next < 0) {
      reached.failure = level_failure(state.deepest_fd(), name.c_str());
      // A level that is no directory above the last one: the directory
      // itself is not there either.
      if (!last) reached.levels_made = true;
      return reached;
    }
    push_level(state, name, next, file_system);
    start = end + 1;
  }
  reached.at_level = false;
  return reached;
}

// The part of `path` below the root, when it lies at or below it.
bool below_root(const HeldLevels& state, const Text& path, std::string_view& relative) {
  if (state.root.empty()) return false;
  if (path.size() + 1 == state.root.size() && state.root.starts_with(path)) {
    relative = std::string_view();
    return true;
  }
  if (!path.starts_with(state.root)) return false;
  relative = std::string_view(path).substr(state.root.size());
  return true;
}

// A regular file already at `name` in `directory`, opened for output and
// emptied: only a regular file on an ordinary file system, with no other
// name (hard link), not the archive and held by no other opener. The entry
// is looked at before the open, so that no device or FIFO is even opened,
// and what was opened is checked again before a byte is written (the entry
// may have been replaced in between); the open never waits for a FIFO's
// reader. The file is emptied only once it is held.
Failure open_existing(const OutputRoot& root, int directory, const Text& name, FileRecord& file) {
  struct stat status;
  if (::fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno_failure();
  }
  if (S_ISLNK(status.st_mode)) return Failure::link_there;
  if (S_ISDIR(status.st_mode)) return Failure::directory_there;
  if (!S_ISREG(status.st_mode)) return Failure::not_a_file;
  const int fd = open_retrying(directory, name.c_str(),
                               O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno_failure();
  Failure failure = Failure::none;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    failure = Failure::not_a_file;
  } else if (status.st_nlink > 1) {
    failure = Failure::other_names;
  } else if (same_file(identity_of(status), root.archive)) {
    failure = Failure::the_archive;
  } else if (!on_ordinary_file_system(fd)) {
    failure = Failure::kernel_files;
  } else {
    int locked;
    do {
      locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    // A file system that cannot lock at all does not stop the open.
    if (locked != 0 && errno == EWOULDBLOCK) failure = Failure::in_use;
  }
  if (failure != Failure::none) {
    close_descriptor(fd);
    return failure;
  }
  file.handle = fd;
  file.kind = FileKind::output;
  file.disk_file = true;
  file.identity = identity_of(status);
  file.length = status.st_size;
  // The old bytes past the written ones still go when the file is closed.
  if (status.st_size == 0 || ::ftruncate(fd, 0) == 0) file.length = 0;
  return Failure::none;
}

}  // namespace

OutputRoot::OutputRoot() = default;
OutputRoot::OutputRoot(OutputRoot&&) noexcept = default;
OutputRoot& OutputRoot::operator=(OutputRoot&&) noexcept = default;
OutputRoot::~OutputRoot() = default;

bool open_output_root(const Text& outdir, const FileIdentity& archive, OutputRoot& root) {
  root = OutputRoot();
  root.archive = archive;
  root.unusable = Failure::invalid_name;
  if (outdir.empty() || outdir.find('\0') != Text::npos) return false;
  root.unusable = Failure::none;
  auto held = std::make_unique<HeldLevels>();
  held->root = collapsed(outdir);
  if (held->root.back() != '/') held->root += '/';
  root.root = outdir;
  // The output directory itself may be reached through links.
  held->root_fd = open_retrying(AT_FDCWD, held->root.c_str(), kLevelFlags);
  if (held->root_fd < 0) {
    root.unusable = errno_failure();
    return false;
  }
  root.held = std::move(held);
  return true;
}

Reached make_directories(OutputRoot& root, const Text& path) {
  std::string_view relative;
  if (root.held == nullptr) return Reached{true, root.unusable, true};
  // A NUL byte would end the name early: the system would take another one.
  if (path.find('\0') != Text::npos) return Reached{true, Failure::invalid_name, true};
  const Text whole = collapsed(path);
  if (!below_root(*root.held, whole, relative)) return Reached{true, Failure::unknown, true};
  return reach(*root.held, relative);
}

Reached open_member_file(OutputRoot& root, const Text& path, FileRecord& file) {
  close_file(file);
  HeldLevels* state = root.held.get();
  std::string_view relative;
  const Text whole = collapsed(path);
  if (state == nullptr) return Reached{false, root.unusable, false};
  if (path.find('\0') != Text::npos) return Reached{false, Failure::invalid_name, false};
  if (!below_root(*state, whole, relative)) return Reached{false, Failure::unknown, false};
  // The output directory itself, as a file's name ending in the separator
  // would name it.
  if (relative.empty()) return Reached{false, Failure::directory_name, false};
  // Views, not copies: a path may be megabytes long.
  const size_t slash = relative.rfind('/');
  const std::string_view parent =
      slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
  Reached reached = reach(*state, parent);
  if (reached.failure != Failure::none) return reached;
  if (!may_make_in_deepest(*state)) return Reached{false, Failure::kernel_files, false};
  const Text leaf(relative.substr(slash == std::string_view::npos ? 0 : slash + 1));
  if (leaf.empty()) {
    reached.failure = Failure::directory_name;
    return reached;
  }
  // Most output files are new: made here, they are empty regular files with
  // one name, in a directory whose file system was looked at when it was
  // reached, so nothing about them needs asking, and no lock: no other
  // opener can hold a file this open has just made. O_EXCL never follows a
  // link, not even a dangling one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = open_retrying(state->deepest_fd(), leaf.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      file.handle = fd;
      file.kind = FileKind::output;
      file.disk_file = true;
      file.length = 0;
      return reached;
    }
    if (errno != EEXIST) {
      reached.failure = errno == EISDIR ? Failure::directory_there : errno_failure();
      return reached;
    }
    reached.failure = open_existing(root, state->deepest_fd(), leaf, file);
    // Removed between the two opens: make it anew, once.
    if (reached.failure != Failure::vanished) return reached;
  }
  return reached;
}
