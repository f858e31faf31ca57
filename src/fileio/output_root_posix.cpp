// The output root on POSIX: a descriptor of the output directory, and the
// levels of the directory last reached below it, each opened from the one
// above with openat(O_NOFOLLOW | O_DIRECTORY). Members come grouped by
// directory, and an archive's directories come in the order of a walk of its
// tree, so a level reached once serves every later path through it: going
// from one directory to the next costs the levels that differ, never the
// whole path again. O_PATH descriptors need no read permission on the
// directories they name. Nothing is made in a directory on one of the
// kernel's interface file systems (/proc, /sys).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

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

Text collapsed(const Text& path) {
  Text result;
  for (char c : path) {
    if (c != '/' || result.empty() || result.back() != '/') result += c;
  }
  return result;
}

int open_level(int directory, std::string_view name) {
  const Text level(name);
  int fd;
  do {
    fd = ::openat(directory, level.c_str(), kLevelFlags | O_NOFOLLOW);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

enum class FileSystem { unknown, ordinary, kernel };

// One level of the path held below the output directory.
struct Level {
  size_t end = 0;  // where its name ends in the held path
  int fd = -1;     // -1 once closed (it lies above the levels held open)
  FileSystem file_system = FileSystem::unknown;
};

struct OutputRoot {
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
  void close() {
    keep(0);
    if (root_fd >= 0) ::close(root_fd);
    root_fd = -1;
    root_file_system = FileSystem::unknown;
    root.clear();
  }
  ~OutputRoot() { close(); }

  int deepest_fd() const { return levels.empty() ? root_fd : levels.back().fd; }
  FileSystem& deepest_file_system() {
    return levels.empty() ? root_file_system : levels.back().file_system;
  }
};

OutputRoot& output_root() {
  static OutputRoot state;
  return state;
}

// How many of the levels held are the first levels of `relative` too.
size_t levels_shared(const OutputRoot& state, std::string_view relative) {
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
void push_level(OutputRoot& state, std::string_view name, int fd, FileSystem file_system) {
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
bool may_make_in_deepest(OutputRoot& state) {
  FileSystem& file_system = state.deepest_file_system();
  if (file_system == FileSystem::unknown) {
    file_system =
        on_ordinary_file_system(state.deepest_fd()) ? FileSystem::ordinary : FileSystem::kernel;
  }
  return file_system == FileSystem::ordinary;
}

// Holds the directory `relative` (below the root; "" for the root itself),
// level by level from those already held; with `make`, a missing level is
// made. False when a level is missing, is no directory or is a link, or
// cannot be made: the levels above it stay held.
bool reach(OutputRoot& state, std::string_view relative, bool make) {
  if (state.root_fd < 0) return false;
  size_t shared = levels_shared(state, relative);
  // The nearest level whose descriptor is still open is where the walk
  // starts again.
  while (shared > 0 && state.levels[shared - 1].fd < 0) --shared;
  state.keep(shared);
  size_t start = shared == 0 ? 0 : state.levels[shared - 1].end + 1;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string_view name = relative.substr(start, end - start);
    // A level to be made is made first, as it mostly is not there yet: one
    // that is there (a directory, or anything else, which the open then
    // refuses) is opened as it is found. mkdirat never follows a link.
    FileSystem file_system = FileSystem::unknown;
    if (make && may_make_in_deepest(state) &&
        ::mkdirat(state.deepest_fd(), Text(name).c_str(), 0777) == 0) {
      file_system = state.deepest_file_system();
    }
    const int next = open_level(state.deepest_fd(), name);
    if (next < 0) return false;
    push_level(state, name, next, file_system);
    start = end + 1;
  }
  return true;
}

// The part of `path` below the root, when it lies below it.
bool below_root(const OutputRoot& state, const Text& path, std::string_view& relative) {
  if (state.root.empty() || !path.starts_with(state.root)) return false;
  relative = std::string_view(path).substr(state.root.size());
  return true;
}

std::string_view parent_of(std::string_view relative) {
  const size_t slash = relative.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
}

}  // namespace

void set_output_root(const Text& outdir) {
  OutputRoot& state = output_root();
  state.close();
  if (outdir.empty() || outdir.find('\0') != Text::npos) return;
  state.root = collapsed(outdir);
  if (state.root.back() != '/') state.root += '/';
  // The output directory itself may be reached through links.
  state.root_fd = ::open(state.root.c_str(), kLevelFlags);
  // An output directory that cannot be opened lets nothing be made below it.
}

bool parent_held(const Text& path) {
  const OutputRoot& state = output_root();
  std::string_view relative;
  return below_root(state, path, relative) && state.deepest_fd() >= 0 &&
         parent_of(relative) == state.held;
}

bool directory_known(const Text& path) {
  const OutputRoot& state = output_root();
  if (state.root_fd < 0 || path.empty()) return false;
  // At or above the output directory: it was opened when it was set.
  if (state.root.starts_with(path) && state.root[path.size()] == '/') return true;
  std::string_view relative;
  if (!below_root(state, path, relative)) return false;
  // Every level held was opened, one by one.
  return state.held.starts_with(relative) &&
         (relative.size() == state.held.size() || state.held[relative.size()] == '/');
}

LevelsMade make_levels(const Text& path) {
  OutputRoot& state = output_root();
  if (state.root.empty()) return LevelsMade::elsewhere;
  // At or above the output directory: it was opened when it was set.
  if (state.root.starts_with(path) && state.root[path.size()] == '/') {
    return state.root_fd >= 0 ? LevelsMade::all_there : LevelsMade::failed;
  }
  std::string_view relative;
  if (!below_root(state, path, relative)) return LevelsMade::elsewhere;
  return reach(state, relative, true) ? LevelsMade::all_there : LevelsMade::failed;
}

bool hold_parent(const Text& path) {
  return reach_parent(path).place == PathPlace::below_root;
}

ParentLevel reach_parent(const Text& path) {
  OutputRoot& state = output_root();
  ParentLevel level;
  std::string_view relative;
  if (!below_root(state, path, relative)) {
    level.directory = AT_FDCWD;
    level.leaf = path;
    return level;
  }
  // Views, not copies: a path may be megabytes long.
  const std::string_view parent = parent_of(relative);
  level.leaf = relative.substr(parent.empty() ? 0 : parent.size() + 1);
  level.place = PathPlace::refused;
  if (!reach(state, parent, false) || !may_make_in_deepest(state)) return level;
  level.place = PathPlace::below_root;
  level.directory = state.deepest_fd();
  return level;
}
