#include "extract/copy_progress.h"

#include <algorithm>
#include <cmath>

#include "console/progress_row.h"
#include "text/number_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// A copy shorter than this never shows a row.
constexpr Clock::duration kFirstDrawingAfter = std::chrono::milliseconds(500);
// At most ten drawings a second.
constexpr Clock::duration kDrawingInterval = std::chrono::milliseconds(100);
// The keys that stop the run are looked at ten times a second.
constexpr Clock::duration kKeyLookInterval = std::chrono::milliseconds(100);

int32_t percent(int64_t part, int64_t whole) {
  if (whole <= 0) return 0;
  const double share = 100.0 * static_cast<double>(part) / static_cast<double>(whole);
  return static_cast<int32_t>(std::clamp(std::floor(share), 0.0, 100.0));
}

// Minutes and seconds, 0 to 59, as two digits.
Text two_digits(int64_t value) {
  Text digits(2, '0');
  digits[0] = static_cast<char>('0' + value / 10);
  digits[1] = static_cast<char>('0' + value % 10);
  return digits;
}

// "m:ss", or "h:mm:ss" from an hour on.
Text duration_text(double seconds) {
  const int64_t whole = static_cast<int64_t>(std::ceil(seconds));
  const int64_t hours = whole / 3600;
  const int64_t minutes = whole / 60 % 60;
  const Text rest = two_digits(whole % 60);
  if (hours == 0) return std::to_string(minutes) + ":" + rest;
  return std::to_string(hours) + ":" + two_digits(minutes) + ":" + rest;
}

// The longest time left that is shown; beyond it the estimate means nothing.
constexpr double kLongestEstimate = 100.0 * 3600.0;

bool report(void* context, int64_t bytes_read) {
  CopyProgress& progress = *static_cast<CopyProgress*>(context);
  const Clock::time_point now = Clock::now();
  if (now >= progress.next_key_look) {
    progress.next_key_look = now + kKeyLookInterval;
    if (take_stop_keys(*progress.keys)) return false;
  }
  if (!progress.screen || now < progress.next_drawing) return true;
  progress.next_drawing = now + kDrawingInterval;
  if (progress.archive_size < 0) progress.archive_size = file_size(*progress.archive);

  ProgressFigures figures;
  figures.member_size = progress.member_size;
  figures.member_done = std::min(progress.member_start + bytes_read, progress.member_size);
  figures.seconds = std::chrono::duration<double>(now - progress.start).count();
  figures.archive_done = file_bytes_read(*progress.archive);
  figures.archive_size = progress.archive_size;
  show_progress_row(progress_text(figures));
  progress.shown = true;
  return true;
}

}  // namespace

Text progress_text(const ProgressFigures& figures) {
  Text text = std::to_string(percent(figures.member_done, figures.member_size)) + "%  " +
              grouped_number(figures.member_done) + " bytes";
  if (figures.member_done > 0 && figures.seconds > 0.0) {
    const double speed = static_cast<double>(figures.member_done) / figures.seconds;
    text += "  " + format_number(speed / 1e6, "0,.0") + " MB/s";
    const double left = static_cast<double>(figures.member_size - figures.member_done) / speed;
    if (left <= kLongestEstimate) text += "  " + duration_text(left) + " left";
  }
  if (figures.archive_size > 0) {
    text +=
        "  archive " + std::to_string(percent(figures.archive_done, figures.archive_size)) + "%";
  }
  return text;
}

CopyHook follow_copy(CopyProgress& progress, int64_t member_size, StopKeys& keys,
                     const FileRecord& archive) {
  progress.member_size = member_size;
  progress.start = Clock::now();
  progress.next_drawing = progress.start + kFirstDrawingAfter;
  progress.next_key_look = progress.start + kKeyLookInterval;
  progress.screen = output_is_screen();
  progress.keys = &keys;
  progress.archive = &archive;
  return CopyHook{report, &progress};
}

void follow_piece(CopyProgress& progress, int64_t member_start) {
  progress.member_start = member_start;
}

void end_copy(CopyProgress& progress) {
  if (progress.shown) clear_progress_row();
  progress.shown = false;
}
