// The writers: threads that make members' files while the walk goes on
// parsing the archive and making directories. The walk hands a writer a
// member whose directory it has reached and whose bytes it has read; the
// writer opens the file there, writes the bytes, sets the time and
// permission bits and closes it. A file's close is where much of its cost
// lies (on Windows a virus scanner works there), and it is off the walk's
// road. With one core there are no writers: the walk makes every file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "fileio/failure.h"
#include "fileio/file_times.h"
#include "fileio/output_root.h"
#include "text/text.h"

// One member's file, made by a writer.
struct FileWork {
  // Given by the walk.
  PreparedFile place;
  int64_t size = 0;             // the member's size
  std::vector<char> data;       // its bytes (fewer where the archive ended)
  FileSettings settings;        // its time and permission bits
  bool separator_name = false;  // its name ends in the separator
  // Set by the writer, then `done`.
  Text errors;        // its ERROR lines, each ending in CR LF
  bool made = false;  // the file is there, whole
  std::atomic<bool> done{false};
};

struct FilePool {
  const OutputRoot* root = nullptr;
  std::vector<std::thread> writers;
  std::mutex mutex;
  std::condition_variable work_waiting;  // a writer may take work
  std::condition_variable work_done;     // a writer finished one
  std::deque<FileWork*> queue;           // handed over, not taken yet
  bool stopping = false;
  int idle = 0;  // writers waiting for work
  // The work the walk waits for: its writer wakes the walk, no other does.
  std::atomic<const FileWork*> awaited{nullptr};

  FilePool() = default;
  FilePool(const FilePool&) = delete;
  FilePool& operator=(const FilePool&) = delete;
  ~FilePool();
};

// The writers a machine of `cores` cores gets: one per core, at most 8,
// none with one core.
int writers_for(unsigned cores);

// Starts `writers` threads that make files below `root`.
void start_pool(FilePool& pool, const OutputRoot& root, int writers);

// True when files are made by writers.
inline bool pool_running(const FilePool& pool) {
  return !pool.writers.empty();
}

// Hands `work` to the writers; it stays the caller's, to read once done.
void hand_over(FilePool& pool, FileWork& work);

// Wakes the writers for the works handed over and not taken yet (they are
// woken for a few at once): before the walk waits, or may wait.
void wake_writers(FilePool& pool);

// Waits up to `wait` for `work` to be done, the writers woken first; true
// when it is.
bool wait_done(FilePool& pool, const FileWork& work, std::chrono::milliseconds wait);

// Makes the file of `work` below `root` and sets its results (the road of
// every file a writer makes; the walk's own copy of a large member takes
// the same steps).
void make_file(const OutputRoot& root, FileWork& work);

// The ERROR line of a file written over one this run made for an earlier
// member whose name differs only in case (`earlier`, as it was stored;
// Windows): "" for none.
Text written_over_line(const Text& earlier);

// The ERROR lines of a file after its copy: `failure` why it could not be
// opened (`none` when it was), the bytes `written` of `size` (-1: the close
// failed), `why` the output took no more. "" when the file is there whole;
// a name ending in the separator with no data is silent.
Text file_errors(Failure failure, bool separator_name, int64_t size, int64_t written, Failure why);
