// The output root on POSIX: a descriptor of the output directory, and one of
// the parent directory last reached below it, opened level by level with
// openat(O_NOFOLLOW | O_DIRECTORY). Members come grouped by directory, so the
// parent descriptor kept from one path to the next makes the level-by-level
// walk cost nothing for most files. O_PATH descriptors need no read
// permission on the directories they name. A parent directory on one of the
// kernel's interface file systems (/proc, /sys) is refused.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "fileio/kernel_file_system_posix.h"
#include "fileio/output_root.h"

namespace {

#ifdef O_PATH
constexpr int kLevelFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kLevelFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

Text collapsed(const Text& path) {
  Text result;
  for (char c : path) {
    if (c != '/' || result.empty() || result.back() != '/') result += c;
  }
  return result;
}

int open_level(int directory, const Text& name) {
  int fd;
  do {
    fd = ::openat(directory, name.c_str(), kLevelFlags | O_NOFOLLOW);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

struct OutputRoot {
  int root_fd = -1;
  Text root;           // collapsed, ending in "/"
  Text parent;         // the parent last reached, relative to the root ("" for the root)
  int parent_fd = -1;  // its descriptor; root_fd itself when it is the root

  void forget_parent() {
    if (parent_fd >= 0 && parent_fd != root_fd) ::close(parent_fd);
    parent_fd = -1;
    parent.clear();
  }
  void close() {
    forget_parent();
    if (root_fd >= 0) ::close(root_fd);
    root_fd = -1;
    root.clear();
  }
  ~OutputRoot() { close(); }
};

OutputRoot& output_root() {
  static OutputRoot state;
  return state;
}

// Opens `relative` level by level from the root, going on from the parent
// kept open when `relative` lies below it. -1 when a level is missing, is no
// directory or is a link.
int open_below_root(OutputRoot& state, const Text& relative) {
  if (relative.empty()) return state.root_fd;
  size_t start = 0;
  int fd = state.root_fd;
  if (state.parent_fd >= 0 && !state.parent.empty() && relative.starts_with(state.parent) &&
      relative[state.parent.size()] == '/') {
    start = state.parent.size() + 1;
    fd = state.parent_fd;
  }
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == Text::npos) end = relative.size();
    const int next = open_level(fd, relative.substr(start, end - start));
    if (fd != state.root_fd && fd != state.parent_fd) ::close(fd);
    if (next < 0) return -1;
    fd = next;
    start = end + 1;
  }
  return fd;
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
  if (state.parent_fd < 0 || state.root.empty() || !path.starts_with(state.root)) return false;
  const std::string_view rest = std::string_view(path).substr(state.root.size());
  const size_t slash = rest.rfind('/');
  return (slash == Text::npos ? std::string_view() : rest.substr(0, slash)) == state.parent;
}

bool directory_known(const Text& path) {
  const OutputRoot& state = output_root();
  if (state.root_fd < 0 || path.empty()) return false;
  // At or above the output directory: it was opened when it was set.
  if (state.root.starts_with(path) && state.root[path.size()] == '/') return true;
  if (state.parent_fd < 0 || !path.starts_with(state.root)) return false;
  // The kept parent and every level above it were opened one by one.
  const std::string_view rest = std::string_view(path).substr(state.root.size());
  return state.parent.starts_with(rest) &&
         (rest.size() == state.parent.size() || state.parent[rest.size()] == '/');
}

LevelsMade make_levels(const Text& path) {
  OutputRoot& state = output_root();
  if (state.root.empty()) return LevelsMade::elsewhere;
  // At or above the output directory: it was opened when it was set.
  if (state.root.starts_with(path) && state.root[path.size()] == '/') {
    return state.root_fd >= 0 ? LevelsMade::all_there : LevelsMade::failed;
  }
  if (!path.starts_with(state.root)) return LevelsMade::elsewhere;
  if (state.root_fd < 0) return LevelsMade::failed;
  const Text rest = path.substr(state.root.size());
  size_t start = 0;
  int fd = state.root_fd;
  // The kept parent and every level above it were opened one by one.
  if (state.parent_fd >= 0 && rest.starts_with(state.parent) &&
      (rest.size() == state.parent.size() || rest[state.parent.size()] == '/')) {
    if (rest.size() == state.parent.size()) return LevelsMade::all_there;
    if (!state.parent.empty()) start = state.parent.size() + 1;
    fd = state.parent_fd;
  }
  const auto release = [&](int level) {
    if (level != state.root_fd && level != state.parent_fd) ::close(level);
  };
  // A level made here lies on the file system of its parent: only where a
  // level was already there is it asked whether anything may be made.
  bool made_here = false;
  while (start < rest.size()) {
    size_t end = rest.find('/', start);
    if (end == Text::npos) end = rest.size();
    const Text name = rest.substr(start, end - start);
    int next = open_level(fd, name);
    if (next < 0 && errno == ENOENT && (made_here || on_ordinary_file_system(fd))) {
      // Made by another program in between, it is taken as it is found.
      if (::mkdirat(fd, name.c_str(), 0777) == 0 || errno == EEXIST) {
        next = open_level(fd, name);
        made_here = true;
      }
    } else {
      made_here = false;
    }
    release(fd);
    if (next < 0) return LevelsMade::failed;
    fd = next;
    start = end + 1;
  }
  release(fd);
  return LevelsMade::all_there;
}

bool hold_parent(const Text& path) {
  return reach_parent(path).place == PathPlace::below_root;
}

ParentLevel reach_parent(const Text& path) {
  OutputRoot& state = output_root();
  ParentLevel level;
  if (state.root.empty() || !path.starts_with(state.root)) {
    level.directory = AT_FDCWD;
    level.leaf = path;
    return level;
  }
  // Views, not copies: a path may be megabytes long.
  const std::string_view rest = std::string_view(path).substr(state.root.size());
  const size_t slash = rest.rfind('/');
  const std::string_view parent = slash == Text::npos ? std::string_view() : rest.substr(0, slash);
  level.leaf = slash == Text::npos ? rest : rest.substr(slash + 1);
  level.place = PathPlace::refused;
  if (state.root_fd < 0) return level;
  if (parent != state.parent || state.parent_fd < 0) {
    const int fd = open_below_root(state, Text(parent));
    if (fd < 0) return level;
    // Nothing is made in a directory of the kernel's interfaces (a new file
    // there can be a setting: an EFI variable, a cgroup). Asked once for all
    // the paths that follow in the same directory.
    if (!on_ordinary_file_system(fd)) {
      if (fd != state.root_fd) ::close(fd);
      return level;
    }
    state.forget_parent();
    state.parent = Text(parent);
    state.parent_fd = fd;
  }
  level.place = PathPlace::below_root;
  level.directory = state.parent_fd;
  return level;
}
