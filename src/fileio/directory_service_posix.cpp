// The existence probe and directory creation on POSIX. A path ending in "/"
// lists that directory; any other path names one entry, looked up with stat
// (symbolic links followed). "*" and "?" are bytes of a name like any other.
// POSIX has no hidden attribute; entries that are neither regular files nor
// directories (devices, FIFOs, sockets, dangling links) carry the system one.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "fileio/directory_service.h"
#include "fileio/entry_filter.h"

namespace {

// The one search of the process: the open directory and the mask it was
// opened with. A search still open when the process ends is closed then.
struct SearchState {
  DIR* directory = nullptr;
  int32_t mask = 0;

  void close() {
    if (directory != nullptr) closedir(directory);
    directory = nullptr;
  }
  ~SearchState() { close(); }
};

SearchState& search_state() {
  static SearchState state;
  return state;
}

int32_t attributes_of(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return kAttributeDirectory;
  if (S_ISREG(status.st_mode)) return 0;
  return kAttributeSystem;
}

// The next entry of the open search that the mask admits; "" (and the search
// closed) when the entries run out.
Text next_admitted(SearchState& search) {
  while (const dirent* entry = readdir(search.directory)) {
    const Text name(entry->d_name);
    if (name == "." || name == "..") continue;
    struct stat status;
    const int32_t attributes = fstatat(dirfd(search.directory), name.c_str(), &status, 0) == 0
                                   ? attributes_of(status)
                                   : kAttributeSystem;
    if (entry_admitted(name, attributes, search.mask)) return name;
  }
  search.close();
  return "";
}

Text open_search(SearchState& search, const Text& directory) {
  search.directory = opendir(directory.c_str());
  if (search.directory == nullptr) return "";
  return next_admitted(search);
}

}  // namespace

Text find_entry(const Text& path, int32_t mask) {
  SearchState& search = search_state();
  if (path.empty()) return search.directory == nullptr ? "" : next_admitted(search);

  search.close();
  search.mask = probe_mask(mask);
  // A NUL byte would end the path early and probe some other path.
  if (path.find('\0') != Text::npos) return "";
  if (path.back() == '/') return open_search(search, path);

  const size_t slash = path.rfind('/');
  const Text last = slash == Text::npos ? path : path.substr(slash + 1);

  // One named entry: there is nothing more for an empty path to continue.
  // A link that leads nowhere is still an entry, as it is in a listing.
  struct stat status;
  int32_t attributes;
  if (stat(path.c_str(), &status) == 0) {
    attributes = attributes_of(status);
  } else if (lstat(path.c_str(), &status) == 0) {
    attributes = kAttributeSystem;
  } else {
    return "";
  }
  // A path ending in "." or ".." names the directory it leads to, as on
  // Windows, which answers with that directory's own name.
  Text name = last;
  if (last == "." || last == "..") {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return "";
    const Text full(resolved);
    name = full == "/" ? full : full.substr(full.rfind('/') + 1);
  }
  return entry_admitted(name, attributes, search.mask) ? name : "";
}
