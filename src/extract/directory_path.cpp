#include "extract/directory_path.h"

#include <algorithm>
#include <cstddef>

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "fileio/directory_service.h"
#include "fileio/output_root.h"
#include "fileio/path_style.h"

namespace {

// A directory path of more levels than this is not made. Each level costs a
// directory on disk (a block of 4 KiB on most file systems) and some tens of
// microseconds to make: a path of millions of levels, a few kilobytes in a
// compressed archive, would take gigabytes and many minutes. No real path
// comes near: Windows takes at most 16,384 levels (32,767 characters), and
// on POSIX the calls that take a whole path stop at 4,096 bytes.
constexpr std::ptrdiff_t kDeepestPath = 65536;

// A path that does not lie below the output directory, level by level with
// the directory services. The first field is the root: a drive such as "g:"
// on Windows, the empty text before the leading "/" on POSIX. It is never
// probed or created.
bool make_each_level(const Text& path) {
  size_t end = path.find(kSeparatorChar);
  while (end != Text::npos) {
    end = path.find(kSeparatorChar, end + 1);
    const Text level = path.substr(0, end);
    if (!directory_known(level) && !names_directory(level) && !make_directory(level)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool create_directory_path(const Text& path) {
  print_line("Create directory: " + printable(path));
  const bool too_deep = std::count(path.begin(), path.end(), kSeparatorChar) > kDeepestPath;
  const LevelsMade made = too_deep ? LevelsMade::failed : make_levels(path);
  const bool there =
      made == LevelsMade::elsewhere ? make_each_level(path) : made == LevelsMade::all_there;
  if (!there) print_line("ERROR: Cannot create this directory");
  return there;
}
