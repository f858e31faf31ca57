#include "app/path_checks.h"

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "fileio/directory_service.h"
#include "fileio/file_access.h"
#include "fileio/path_style.h"
#include "text/string_ops.h"

namespace {

void input_not_readable(const RunSettings& settings) {
  print_line("Input file is not a file or a pipe ('" + printable(settings.infile) + "')");
}

}  // namespace

bool check_paths(RunSettings& settings, FileRecord& archive) {
  // A name that ends in the separator can only be a directory's (the probe
  // would search its entries): whatever it holds, it is no archive, and no
  // file is named so.
  if (!settings.infile.empty() && is_path_separator(settings.infile.back())) {
    Text directory = settings.infile;
    while (!directory.empty() && is_path_separator(directory.back())) directory.pop_back();
    if (names_directory(directory_probe(directory))) {
      input_not_readable(settings);
    } else {
      print_line("Input file not found ('" + printable(settings.infile) + "')");
    }
    return false;
  }
  // A plain file is the usual archive. Anything else that is there (a
  // directory; on POSIX also a pipe, FIFO, socket or device; on Windows a
  // hidden or system file) is not "not found": a directory is refused here,
  // the rest is opened below, where a pipe is read as a stream.
  if (find_entry(settings.infile, 0).empty()) {
    if (!find_entry(settings.infile, kAttributeDirectory).empty()) {
      input_not_readable(settings);
      return false;
    }
    if (find_entry(settings.infile, kAttributeHidden | kAttributeSystem).empty()) {
      print_line("Input file not found ('" + printable(settings.infile) + "')");
      return false;
    }
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
  // it for writing, it may not be read, or it has gone since it was found.
  if (!open_binary(settings.infile, archive)) {
    print_line("Input file cannot be opened ('" + printable(settings.infile) + "')");
    return false;
  }
  // A device or a terminal (no positions) is no archive: reading it could
  // wait for ever, or end at once as an empty run.
  if (get_position(archive) == 0) {
    close_file(archive);
    input_not_readable(settings);
    return false;
  }
  return true;
}
