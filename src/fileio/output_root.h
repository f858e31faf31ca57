// The output directory, the one road by which anything is made below it.
// Below it nothing is ever reached through a link: each level is made or
// opened as itself from the level above (on Windows, held open as itself,
// refusing any reparse point), and a member's file is opened in the
// directory so reached. The output directory itself may be reached through
// links. The levels of the directory last reached stay held, so that the
// next member in the same directory, or near it, costs only the levels that
// differ.
#pragma once

#include <cstdint>
#include <memory>

#include "fileio/failure.h"
#include "fileio/file_record.h"
#include "fileio/file_times.h"
#include "text/text.h"

// The levels held below the output directory: each platform's own.
struct HeldLevels;

struct OutputRoot {
  Text root;  // the output directory, ending in the separator
  // The archive being read: never opened as an output file, whatever name
  // reaches it.
  FileIdentity archive;
  std::unique_ptr<HeldLevels> held;  // none when the directory could not be opened
  Failure unusable = Failure::none;  // ... for this reason

  OutputRoot();
  OutputRoot(OutputRoot&&) noexcept;
  OutputRoot& operator=(OutputRoot&&) noexcept;
  ~OutputRoot();
};

// Opens the output directory `outdir` (ending in the separator; runs of
// separators count as one) for the members of the archive `archive`. False
// when it cannot be opened: nothing can be made below it then.
bool open_output_root(const Text& outdir, const FileIdentity& archive, OutputRoot& root);

// What one call on the output root did for a path below it.
struct Reached {
  bool levels_made = false;  // a level of the directory was missing and made (or tried)
  // Why the call failed (`none` when it did not), and whether it failed at a
  // level of the directory (true) or at the file itself.
  Failure failure = Failure::none;
  bool at_level = false;
};

// Makes sure that every level of the directory `path` (no final separator,
// at or below the output directory) is a directory, walking down once from
// the nearest level held and making each one that is missing. The time is in
// proportion to the path's length, whatever its depth. Fails at the first
// level that cannot be made or is no directory (a file, a link), or that lies
// where nothing is made (POSIX: the kernel's interface file systems); the
// deeper levels are then not tried.
Reached make_directories(OutputRoot& root, const Text& path);

// Opens the file `path` (below the output directory) for writing into
// `file`: its directory is reached as make_directories reaches it, with the
// missing levels made, and the file made new there with the permission bits
// `mode` (POSIX; -1: the default), less the umask, with the owner's read and
// write. A file or a link already at the name is never written into: the
// new file is made under a temporary name and put in its place before a
// byte is written. A directory, device, FIFO or socket at the name is left as it is,
// and so is the archive itself and anything on one of the kernel's
// interface file systems: only a disk file is ever opened for output. The
// open never waits (for a FIFO's reader, a lock).
Reached open_member_file(OutputRoot& root, const Text& path, int32_t mode, FileRecord& file);

// The same open in two steps, for a file made on another thread. The walk
// reaches the file's directory (making the missing levels) into
// `prepared`, which holds that directory until it goes; then any thread
// opens the file there. Files prepared for different names may be opened
// at the same time, while the walk goes on reaching other directories.
struct PreparedFile {
  std::shared_ptr<const void> place;  // the platform's: the directory held, the name
};
Reached prepare_member_file(OutputRoot& root, const Text& path, PreparedFile& prepared);
Failure open_prepared_file(const OutputRoot& root, const PreparedFile& prepared, int32_t mode,
                           FileRecord& file);

// Sets what the member says of the file (its time; on POSIX its permission
// bits where the umask took the owner's read or write) on the output file
// `file`, before it is closed.
void settle_file(const OutputRoot& root, FileRecord& file, const FileSettings& settings);

// Sets a directory member's time and permission bits (POSIX: less the
// umask, with the owner's read, write and search) on the directory `path`,
// once everything in it is written. The directory is reached as every level
// is, never through a link.
Reached finish_directory(OutputRoot& root, const Text& path, const FileSettings& settings);

enum class Standing { nothing, file, link, directory, other };

// What stands at `path` (its directory reached without making anything),
// not following a link: `nothing` also when a level of it is missing,
// `other` when it cannot be reached.
Standing what_stands(OutputRoot& root, const Text& path);

// Why a hard link cannot be made to what stands at its target: only a
// regular file is linked to, never a link, whose own target the new name
// would not share. `none` for a file.
inline Failure link_target_refusal(Standing target) {
  switch (target) {
    case Standing::file:
      return Failure::none;
    case Standing::nothing:
      return Failure::vanished;
    case Standing::link:
      return Failure::link_there;
    case Standing::directory:
      return Failure::directory_there;
    case Standing::other:
      break;
  }
  return Failure::not_a_file;
}

// Opens the regular file `path` below the output directory (never through a
// link) for reading, as the source of a copy.
Reached open_extracted_file(OutputRoot& root, const Text& path, FileRecord& file);

// Gives the regular file `target` (below the output directory, reached
// without links) the further name `path`, replacing a file or link there.
// `links_refused` where the file system has no hard links or the file has
// all it may have: the caller copies the file then.
Reached make_hard_link(OutputRoot& root, const Text& path, const Text& target);

// Makes the symbolic link `path` pointing at `target` (as stored), replacing
// a file or link there, with the time `time` where the system sets a link's
// own time. `target_directory` says the target is a directory (Windows makes
// directory links apart). `links_refused` where the system makes none.
Reached make_symbolic_link(OutputRoot& root, const Text& path, const Text& target,
                           bool target_directory, const FileTime& time);

// When a symbolic link stands at `path` (below the output directory, its
// directory reached without making anything): what it points at, as
// stored. False for anything else. On Windows a reparse point that is no
// relative symbolic link gives an absolute target.
bool read_link(OutputRoot& root, const Text& path, Text& target);

// The form in which the system tells `path` from other paths: on Windows,
// where names that differ only in case are one file, its upper case; the
// path itself elsewhere.
Text compared_path(const Text& path);
