#include "extract/directory_path.h"

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "fileio/directory_service.h"
#include "fileio/output_root.h"
#include "fileio/path_style.h"
#include "text/string_ops.h"

void create_directory_path(const Text& path) {
  const int32_t count = field_count(path, kSeparator);
  // The first field is the root: a drive such as "g:" on Windows, the empty
  // text before the leading "/" on POSIX. It is never probed or created.
  Text prefix = field_of(path, kSeparator, 1) + kSeparator;
  print_line("Create directory: " + printable(path));
  for (int32_t index = 2; index <= count; ++index) {
    prefix += field_of(path, kSeparator, index) + kSeparator;
    const Text level = substring(prefix, 1, static_cast<int32_t>(prefix.size()) - 1);
    // Any entry of that name counts as present, a plain file included; a
    // deeper level under a file then fails to be created, silently.
    if (!directory_known(level) && find_entry(level, kAttributeDirectory).empty()) {
      make_directory(level);
    }
  }
}
