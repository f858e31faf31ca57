// The progress row of a long copy: while a regular file's data is copied and
// standard output is the screen, the row below the member's line shows how
// far the copy has come, from half a second into the copy on and redrawn at
// most ten times a second; it is blanked as soon as the copy ends. During the
// copy the keys that stop the run are looked at ten times a second too.
#pragma once

#include <chrono>
#include <cstdint>

#include "extract/stop_keys.h"
#include "fileio/file_access.h"
#include "text/text.h"

// What the progress row tells.
struct ProgressFigures {
  int64_t member_done = 0;   // bytes of the member copied so far
  int64_t member_size = 0;   // the member's size
  double seconds = 0.0;      // time since its copy began
  int64_t archive_done = 0;  // bytes of the archive file read so far
  int64_t archive_size = 0;  // 0 when unknown
};

// The row's text, for example
// "37%  1,610,612,736 bytes  512.3 MB/s  0:05 left  archive 12%": the share of
// the member, the bytes done, the speed (millions of bytes a second), the
// time left at that speed, and the share of the whole archive. Figures that
// cannot be known (no speed yet, an unknown archive size) are left out.
Text progress_text(const ProgressFigures& figures);

// The state of one copy's progress row.
struct CopyProgress {
  int64_t member_size = 0;
  int64_t member_start = 0;   // bytes of the member before the piece being copied
  int64_t archive_size = -1;  // asked of the file services at the first drawing
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point next_drawing;
  std::chrono::steady_clock::time_point next_key_look;
  bool screen = false;  // standard output is the screen: the row is drawn
  bool shown = false;
  StopKeys* keys = nullptr;
  const FileRecord* archive = nullptr;  // the archive the copy reads
};

// Starts following the copy of a member of `member_size` bytes from
// `archive`; the hook is given to the copy. The archive's share counts the
// bytes of the archive file read (the compressed bytes of a compressed
// archive). It draws nothing when standard output is not the screen. It
// takes the Esc and Ctrl+C presses waiting, counted in `keys`, and stops the
// copy once they say so.
CopyHook follow_copy(CopyProgress& progress, int64_t member_size, StopKeys& keys,
                     const FileRecord& archive);
// The next piece of a sparse member is copied to `member_start` bytes into
// the file.
void follow_piece(CopyProgress& progress, int64_t member_start);
// The copy has ended: a row that was shown is blanked, the cursor at its start.
void end_copy(CopyProgress& progress);
