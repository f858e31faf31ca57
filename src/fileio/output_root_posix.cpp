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
#include <atomic>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "fileio/archive_source.h"
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

int open_retrying(int directory, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(directory, name, flags, mode);
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

// A directory's descriptor, closed when the last of its users lets it go:
// the output root, and the files being made in it on other threads.
struct LevelFd {
  int fd = -1;
  explicit LevelFd(int descriptor) : fd(descriptor) {}
  LevelFd(const LevelFd&) = delete;
  LevelFd& operator=(const LevelFd&) = delete;
  ~LevelFd() {
    if (fd >= 0) ::close(fd);
  }
};

// One level of the path held below the output directory.
struct Level {
  size_t end = 0;  // where its name ends in the held path
  // Its descriptor; none once let go (it lies above the levels held open).
  std::shared_ptr<const LevelFd> fd;
  FileSystem file_system = FileSystem::unknown;
};

}  // namespace

struct HeldLevels {
  std::shared_ptr<const LevelFd> root_fd;
  FileSystem root_file_system = FileSystem::unknown;
  Text root;                  // collapsed, ending in "/"
  Text held;                  // the levels held, relative to the root ("a/b"; "" for none)
  std::vector<Level> levels;  // one per level of `held`
  mode_t umask = 022;         // the process's, asked once
  // Names made to replace what stood at a name, by every thread.
  mutable std::atomic<unsigned> temporaries{0};

  // Keeps the first `count` levels and lets the deeper ones go.
  void keep(size_t count) {
    levels.resize(std::min(count, levels.size()));
    held.resize(levels.empty() ? 0 : levels.back().end);
  }

  const std::shared_ptr<const LevelFd>& deepest() const {
    return levels.empty() ? root_fd : levels.back().fd;
  }
  int deepest_fd() const { return deepest()->fd; }
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
  state.levels.push_back(
      Level{state.held.size(), std::make_shared<const LevelFd>(fd), file_system});
  if (state.levels.size() > kLevelsHeldOpen) {
    state.levels[state.levels.size() - 1 - kLevelsHeldOpen].fd.reset();
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

// Gives the directory `name` just made in `directory` all the owner's bits,
// which `umask` took: opened as itself, never through a link.
void owner_keeps_all(int directory, const char* name, mode_t umask) {
  const int fd = open_retrying(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  ::fchmod(fd, (0777 & ~umask) | 0700);
  close_descriptor(fd);
}

// Holds the directory `relative` (below the root; "" for the root itself),
// level by level from those already held, making each missing level. At a
// failure the levels above it stay held.
Reached reach(HeldLevels& state, std::string_view relative, bool make) {
  Reached reached;
  if (state.root_fd == nullptr) {
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
  while (shared > 0 && state.levels[shared - 1].fd == nullptr) --shared;
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
    if (state.levels.size() < known || !make) {
      // Reached before (a directory, opened again below), or only looked for.
    } else if (::mkdirat(state.deepest_fd(), name.c_str(), 0777) == 0) {
      file_system = state.deepest_file_system();
      reached.levels_made = true;
      // A umask that takes the owner's bits would leave a directory nothing
      // can be made in until the end: the owner keeps them all.
      if ((state.umask & 0700) != 0) owner_keeps_all(state.deepest_fd(), name.c_str(), state.umask);
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

// A name to make a file or link under before it takes the place of what
// stands at its own name: never one that is there.
Text temporary_name(const HeldLevels& state) {
  char name[40];
  std::snprintf(name, sizeof name, ".holvex-%ld-%u", static_cast<long>(::getpid()),
                ++state.temporaries);
  return name;
}

// What stands at `name` in `directory`, not following a link.
Standing standing_at(int directory, const char* name) {
  struct stat status;
  if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Standing::nothing : Standing::other;
  }
  if (S_ISREG(status.st_mode)) return Standing::file;
  if (S_ISLNK(status.st_mode)) return Standing::link;
  if (S_ISDIR(status.st_mode)) return Standing::directory;
  return Standing::other;
}

// Why nothing may take the place of what stands at `name`: a directory, a
// device, FIFO or socket, or the archive itself. `none` for a file or link,
// which a new file or link replaces.
Failure not_replaceable(const OutputRoot& root, int directory, const char* name) {
  struct stat status;
  if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return errno_failure();
  if (S_ISDIR(status.st_mode)) return Failure::directory_there;
  if (S_ISLNK(status.st_mode)) return Failure::none;
  if (!S_ISREG(status.st_mode)) return Failure::not_a_file;
  if (same_file(identity_of(status), root.archive)) return Failure::the_archive;
  // A kernel setting mounted over a file is no file to replace.
  const int fd = open_retrying(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno_failure();
  const bool ordinary = on_ordinary_file_system(fd);
  close_descriptor(fd);
  return ordinary ? Failure::none : Failure::kernel_files;
}

// The file mode a member's permission bits give: owner read and write
// always, never the set-ID and sticky bits; the umask takes its part when
// the file is made.
mode_t file_mode(int32_t mode) {
  return mode < 0 ? 0666 : static_cast<mode_t>((mode & 0777) | 0600);
}

// Reaches the directory of `path` (below the root), making its missing
// levels, and gives the name within it. `reached.failure` says why not.
Reached locate(OutputRoot& root, const Text& path, Text& leaf, bool make = true) {
  HeldLevels* state = root.held.get();
  if (state == nullptr) return Reached{false, root.unusable, false};
  if (path.find('\0') != Text::npos) return Reached{false, Failure::invalid_name, false};
  std::string_view relative;
  const Text whole = collapsed(path);
  if (!below_root(*state, whole, relative)) return Reached{false, Failure::unknown, false};
  // The output directory itself, as a file's name ending in the separator
  // would name it.
  if (relative.empty()) return Reached{false, Failure::directory_name, false};
  // Views, not copies: a path may be megabytes long.
  const size_t slash = relative.rfind('/');
  const std::string_view parent =
      slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
  Reached reached = reach(*state, parent, make);
  if (reached.failure != Failure::none) return reached;
  if (!may_make_in_deepest(*state)) return Reached{false, Failure::kernel_files, false};
  leaf = Text(relative.substr(slash == std::string_view::npos ? 0 : slash + 1));
  if (leaf.empty()) reached.failure = Failure::directory_name;
  return reached;
}

void set_times(int fd, const char* name, const FileTime& time) {
  if (!time.known) return;
  const timespec times[2] = {{0, UTIME_OMIT},
                             {static_cast<time_t>(time.seconds), time.nanoseconds}};
  if (name == nullptr) {
    ::futimens(fd, times);
  } else {
    ::utimensat(fd, name, times, AT_SYMLINK_NOFOLLOW);
  }
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
  const int root_fd = open_retrying(AT_FDCWD, held->root.c_str(), kLevelFlags);
  // Asked before any other thread runs: the umask can be read only by
  // setting it.
  held->umask = ::umask(0);
  ::umask(held->umask);
  if (root_fd < 0) {
    root.unusable = errno_failure();
    return false;
  }
  held->root_fd = std::make_shared<const LevelFd>(root_fd);
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
  return reach(*root.held, relative, true);
}

namespace {

// A file's place: its directory, held while the file is made there, and its
// name in it.
struct PlacedFile {
  std::shared_ptr<const LevelFd> directory;
  Text leaf;
};

}  // namespace

Reached prepare_member_file(OutputRoot& root, const Text& path, PreparedFile& prepared) {
  prepared.place.reset();
  auto placed = std::make_shared<PlacedFile>();
  Reached reached = locate(root, path, placed->leaf);
  if (reached.failure != Failure::none) return reached;
  placed->directory = root.held->deepest();
  prepared.place = std::move(placed);
  return reached;
}

Failure open_prepared_file(const OutputRoot& root, const PreparedFile& prepared, int32_t mode,
                           FileRecord& file) {
  close_file(file);
  const auto* placed = static_cast<const PlacedFile*>(prepared.place.get());
  if (placed == nullptr || root.held == nullptr) return Failure::unknown;
  const int directory = placed->directory->fd;
  const char* leaf = placed->leaf.c_str();
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC;
  // Most output files are new: made here, they are empty regular files with
  // one name, in a directory whose file system was looked at when it was
  // reached, so nothing about them needs asking. O_EXCL never follows a
  // link, not even a dangling one.
  int fd = open_retrying(directory, leaf, flags, file_mode(mode));
  if (fd < 0 && errno != EEXIST)
    return errno == EISDIR ? Failure::directory_there : errno_failure();
  if (fd < 0) {
    // A file or a link there is replaced, never written into: the file is
    // made under another name and put in the old one's place before a byte
    // is written, so the old file's other names keep their bytes and a
    // second run writing it meanwhile mixes nothing into it.
    const Failure failure = not_replaceable(root, directory, leaf);
    if (failure != Failure::none) return failure;
    Text temporary;
    do {
      temporary = temporary_name(*root.held);
      fd = open_retrying(directory, temporary.c_str(), flags, file_mode(mode));
    } while (fd < 0 && errno == EEXIST);
    if (fd < 0 || ::renameat(directory, temporary.c_str(), directory, leaf) != 0) {
      const Failure why = errno_failure();
      if (fd >= 0) {
        ::unlinkat(directory, temporary.c_str(), 0);
        close_descriptor(fd);
      }
      return why;
    }
  }
  file.handle = fd;
  file.kind = FileKind::output;
  file.disk_file = true;
  file.length = 0;
  return Failure::none;
}

void settle_file(const OutputRoot& root, FileRecord& file, const FileSettings& settings) {
  if (!is_open(file) || root.held == nullptr) return;
  const int fd = static_cast<int>(file.handle);
  // Made with the member's bits less the umask; the owner's read and write
  // are set again when the umask took them.
  if (settings.mode >= 0) {
    const mode_t umask = root.held->umask;
    const mode_t wanted = (static_cast<mode_t>(settings.mode) & 0777 & ~umask) | 0600;
    if (wanted != (file_mode(settings.mode) & ~umask)) ::fchmod(fd, wanted);
  }
  set_times(fd, nullptr, settings.time);
}

Reached finish_directory(OutputRoot& root, const Text& path, const FileSettings& settings) {
  Text leaf;
  Reached reached = locate(root, path, leaf, false);
  // The output directory itself ("./" in the archive) is opened as it was
  // when the run began.
  const bool top = reached.failure == Failure::directory_name && !reached.at_level;
  if (top && root.held != nullptr) reached.failure = Failure::none;
  if (reached.failure != Failure::none) return reached;
  HeldLevels& state = *root.held;
  const int directory = top ? state.root_fd->fd : state.deepest_fd();
  // The directory itself, reached as every level is: never through a link.
  const int fd = open_retrying(directory, top ? "." : leaf.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    reached.failure = level_failure(directory, top ? "." : leaf.c_str());
    return reached;
  }
  if (settings.mode >= 0) {
    ::fchmod(fd, (static_cast<mode_t>(settings.mode) & 0777 & ~state.umask) | 0700);
  }
  set_times(fd, nullptr, settings.time);
  close_descriptor(fd);
  return reached;
}

Standing what_stands(OutputRoot& root, const Text& path) {
  Text leaf;
  const Reached reached = locate(root, path, leaf, false);
  // A level that is not there: nothing is there.
  if (reached.failure == Failure::vanished) return Standing::nothing;
  if (reached.failure != Failure::none) return Standing::other;
  return standing_at(root.held->deepest_fd(), leaf.c_str());
}

Reached open_extracted_file(OutputRoot& root, const Text& path, FileRecord& file) {
  close_file(file);
  Text leaf;
  Reached reached = locate(root, path, leaf, false);
  if (reached.failure != Failure::none) return reached;
  const int fd = open_retrying(root.held->deepest_fd(), leaf.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat status;
  if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    reached.failure =
        fd < 0 ? (errno == ELOOP ? Failure::link_there : errno_failure())
               : (S_ISDIR(status.st_mode) ? Failure::directory_there : Failure::not_a_file);
    if (fd >= 0) close_descriptor(fd);
    return reached;
  }
  file.handle = fd;
  file.kind = FileKind::binary;
  file.disk_file = true;
  file.identity = identity_of(status);
  file.length = status.st_size;
  file.source = &kPlainSource;
  return reached;
}

Reached make_hard_link(OutputRoot& root, const Text& path, const Text& target) {
  Text target_leaf;
  Reached reached = locate(root, target, target_leaf, false);
  if (reached.failure != Failure::none) {
    reached.levels_made = false;
    reached.at_level = false;
    return reached;
  }
  HeldLevels& state = *root.held;
  const Failure refused = link_target_refusal(standing_at(state.deepest_fd(), target_leaf.c_str()));
  if (refused != Failure::none) return Reached{false, refused, false};
  const int from = ::fcntl(state.deepest_fd(), F_DUPFD_CLOEXEC, 0);
  if (from < 0) return Reached{false, errno_failure(), false};
  Text leaf;
  reached = locate(root, path, leaf);
  if (reached.failure == Failure::none) {
    const int directory = state.deepest_fd();
    // linkat never follows a link: the file itself gets the new name.
    int made = ::linkat(from, target_leaf.c_str(), directory, leaf.c_str(), 0);
    if (made != 0 && errno == EEXIST) {
      reached.failure = not_replaceable(root, directory, leaf.c_str());
      Text temporary;
      while (reached.failure == Failure::none) {
        temporary = temporary_name(state);
        made = ::linkat(from, target_leaf.c_str(), directory, temporary.c_str(), 0);
        if (made == 0 || errno != EEXIST) break;
      }
      if (reached.failure == Failure::none && made == 0 &&
          ::renameat(directory, temporary.c_str(), directory, leaf.c_str()) != 0) {
        made = -1;
        ::unlinkat(directory, temporary.c_str(), 0);
      }
    }
    if (reached.failure == Failure::none && made != 0) {
      // A file system without hard links, or a file at its limit of them:
      // the caller copies the file instead.
      const int error = errno;
      reached.failure = error == EXDEV || error == EMLINK || error == EPERM || error == ENOTSUP
                            ? Failure::links_refused
                            : errno_failure();
    }
  }
  close_descriptor(from);
  return reached;
}

Reached make_symbolic_link(OutputRoot& root, const Text& path, const Text& target, bool,
                           const FileTime& time) {
  Text leaf;
  Reached reached = locate(root, path, leaf);
  if (reached.failure != Failure::none) return reached;
  // On a failure the levels made for the link stay, and are said.
  if (target.find('\0') != Text::npos) {
    reached.failure = Failure::invalid_name;
    return reached;
  }
  HeldLevels& state = *root.held;
  const int directory = state.deepest_fd();
  // A link never writes through what stands at its name: it is made under
  // another name and takes the place of a file or link there.
  if (::symlinkat(target.c_str(), directory, leaf.c_str()) != 0) {
    if (errno != EEXIST) {
      reached.failure = errno_failure();
      return reached;
    }
    reached.failure = not_replaceable(root, directory, leaf.c_str());
    if (reached.failure != Failure::none) return reached;
    Text temporary;
    int made;
    do {
      temporary = temporary_name(state);
      made = ::symlinkat(target.c_str(), directory, temporary.c_str());
    } while (made != 0 && errno == EEXIST);
    if (made != 0) {
      reached.failure = errno_failure();
      return reached;
    }
    if (::renameat(directory, temporary.c_str(), directory, leaf.c_str()) != 0) {
      reached.failure = errno_failure();
      ::unlinkat(directory, temporary.c_str(), 0);
      return reached;
    }
  }
  set_times(directory, leaf.c_str(), time);
  return reached;
}

Reached open_member_file(OutputRoot& root, const Text& path, int32_t mode, FileRecord& file) {
  PreparedFile prepared;
  Reached reached = prepare_member_file(root, path, prepared);
  if (reached.failure == Failure::none)
    reached.failure = open_prepared_file(root, prepared, mode, file);
  return reached;
}

bool read_link(OutputRoot& root, const Text& path, Text& target) {
  Text leaf;
  if (locate(root, path, leaf, false).failure != Failure::none) return false;
  char buffer[4096];
  const ssize_t length = ::readlinkat(root.held->deepest_fd(), leaf.c_str(), buffer, sizeof buffer);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  target.assign(buffer, static_cast<size_t>(length));
  return true;
}

Text compared_path(const Text& path) {
  return path;
}
