#include "app/path_checks.h"

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "extract/extraction_loop.h"
#include "fileio/directory_service.h"
#include "fileio/file_access.h"
#include "fileio/path_style.h"
#include "text/string_ops.h"

bool check_paths(RunSettings& settings) {
  if (find_entry(settings.infile, 0).empty()) {
    print_line("Input file not found ('" + printable(settings.infile) + "')");
    return false;
  }
  // An empty answer becomes the bare separator, which on POSIX would be the
  // root directory: it never looks right, on either platform.
  const bool outdir_given = !settings.outdir.empty();
  if (!outdir_given || !is_path_separator(settings.outdir.back())) settings.outdir += kSeparator;
  if (!outdir_given || !outdir_looks_right(settings.outdir)) {
    print_line("Output directory does not look right");
    return false;
  }
  // A root directory ("/", "g:\") is probed as itself, whatever it holds.
  // Only a directory will do: under a plain file nothing can be made.
  const Text directory = directory_probe(
      substring(settings.outdir, 1, static_cast<int32_t>(settings.outdir.size()) - 1));
  if (!names_directory(directory)) {
    print_line("Output directory not found ('" + printable(settings.outdir) + "')");
    return false;
  }
  // The file is there but may still refuse to open: another program holds
  // it with exclusive access, or it may not be read.
  open_binary(settings.infile, kArchiveFile);
  if (at_end(kArchiveFile) != 0) {
    print_line("Input file cannot be opened ('" + printable(settings.infile) + "')");
    return false;
  }
  // A device or a pipe (no positions) is no archive file: reading it could
  // wait for ever, or end at once as an empty run.
  if (get_position(kArchiveFile) == 0) {
    close_file(kArchiveFile);
    print_line("Input file not found ('" + printable(settings.infile) + "')");
    return false;
  }
  return true;
}
