#include "extract/copy_progress.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
  ProgressFigures figures;
  const char* expected;
};

TEST(ProgressText, ShowsShareBytesSpeedTimeLeftAndArchiveShare) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  const TextCase cases[] = {
      {{1'610'612'736, 4 * kGiB, 3.0, 2'000'000'000, 16 * kGiB},
       "37%  1,610,612,736 bytes  536.9 MB/s  0:05 left  archive 11%"},
      // The share is rounded down: 100% only once everything is there.
      {{999, 1000, 0.5, 999, 1000}, "99%  999 bytes  0.0 MB/s  0:01 left  archive 99%"},
      {{1000, 1000, 2.0, 1024, 1024}, "100%  1,000 bytes  0.0 MB/s  0:00 left  archive 100%"},
      // Hours once the time left reaches one.
      {{1'000'000, 4'000'000'000, 1.0, 1'000'000, 0},
       "0%  1,000,000 bytes  1.0 MB/s  1:06:39 left"},
      // Nothing done yet, or no time gone: no speed and no time left.
      {{0, 5000, 1.0, 512, 10'000}, "0%  0 bytes  archive 5%"},
      {{512, 5000, 0.0, 1024, 10'000}, "10%  512 bytes  archive 10%"},
      // An estimate beyond a hundred hours is left out.
      {{1, kGiB * 1024, 1.0, 1, 0}, "0%  1 bytes  0.0 MB/s"},
      // Counts beyond what a double holds exactly keep every digit.
      {{(int64_t{1} << 53) + 1, int64_t{1} << 62, 1e6, 0, 0},
       "0%  9,007,199,254,740,993 bytes  9,007.2 MB/s"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(progress_text(c.figures), c.expected);
}

}  // namespace
