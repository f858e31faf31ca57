#include "extract/file_pool.h"

#include <algorithm>
#include <utility>

#include "console/printable.h"
#include "fileio/file_access.h"
#include "fileio/stream_thread.h"
#include "text/number_text.h"

namespace {

constexpr unsigned kMostWriters = 8;
// The works handed over before a waiting writer is woken for them.
constexpr size_t kWakeBatch = 8;

void write_files(FilePool& pool) {
  for (;;) {
    FileWork* work = nullptr;
    {
      std::unique_lock<std::mutex> lock(pool.mutex);
      ++pool.idle;
      pool.work_waiting.wait(lock, [&] { return pool.stopping || !pool.queue.empty(); });
      --pool.idle;
      if (pool.queue.empty()) return;
      work = pool.queue.front();
      pool.queue.pop_front();
    }
    make_file(*pool.root, *work);
    // The walk is woken only when it waits: it looks at what is done
    // before each member on its own.
    work->done.store(true);
    if (pool.awaited.load() == work) {
      { std::lock_guard<std::mutex> lock(pool.mutex); }
      pool.work_done.notify_all();
    }
  }
}

}  // namespace

FilePool::~FilePool() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  work_waiting.notify_all();
  for (std::thread& writer : writers) writer.join();
}

int writers_for(unsigned cores) {
  return cores <= 1 ? 0 : static_cast<int>(std::min(cores, kMostWriters));
}

void start_pool(FilePool& pool, const OutputRoot& root, int writers) {
  pool.root = &root;
  for (int i = 0; i < writers; ++i) {
    // A writer takes no signal: the program's are handled on the walk's
    // thread. Fewer writers, or none, when the system makes no more: the
    // walk makes the files itself.
    std::thread writer;
    if (!start_quiet_thread(writer, [&pool] { write_files(pool); })) break;
    pool.writers.push_back(std::move(writer));
  }
}

void hand_over(FilePool& pool, FileWork& work) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.queue.push_back(&work);
    // A writer that waits is woken for a few works at once, not for each:
    // waking costs a system call on both sides.
    wake = pool.idle > 0 && pool.queue.size() >= kWakeBatch;
  }
  if (wake) pool.work_waiting.notify_one();
}

void wake_writers(FilePool& pool) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    wake = pool.idle > 0 && !pool.queue.empty();
  }
  if (wake) pool.work_waiting.notify_all();
}

bool wait_done(FilePool& pool, const FileWork& work, std::chrono::milliseconds wait) {
  wake_writers(pool);
  std::unique_lock<std::mutex> lock(pool.mutex);
  pool.awaited.store(&work);
  const bool done = pool.work_done.wait_for(lock, wait, [&] { return work.done.load(); });
  pool.awaited.store(nullptr);
  return done;
}

Text written_over_line(const Text& earlier) {
  if (earlier.empty()) return "";
  return "ERROR: Written over " + printable(earlier) +
         ", made for an earlier member (the names differ only in case)\r\n";
}

Text file_errors(Failure failure, bool separator_name, int64_t size, int64_t written, Failure why) {
  if (failure != Failure::none) {
    // A name ending in the separator marks a directory in older archives:
    // its directory has been made, and no file is expected unless the
    // member carries data, which would otherwise be lost without a word.
    if (separator_name && size == 0) return "";
    return "ERROR: Cannot create this file: " + failure_reason(failure) + "\r\n";
  }
  if (written < 0 && size == 0) {
    // Nothing is known of an empty file whose close failed, not even that
    // it is there.
    return "ERROR: Cannot create this file: " + failure_reason(why) + "\r\n";
  }
  if (written >= size) return "";
  return "ERROR: Incomplete file (" + grouped_number(std::max<int64_t>(written, 0)) + " of " +
         grouped_number(size) + " bytes written)" +
         (why != Failure::none ? ": " + failure_reason(why) : Text()) + "\r\n";
}

void make_file(const OutputRoot& root, FileWork& work) {
  FileRecord file;
  const Failure failure = open_prepared_file(root, work.place, work.settings.mode, file);
  const Text over = written_over_line(file.written_over);
  int64_t written = 0;
  Failure why = Failure::none;
  if (failure == Failure::none) {
    FileRecord bytes;
    const int64_t held = static_cast<int64_t>(work.data.size());
    hold_in_memory(bytes, std::move(work.data));
    const Copied copied = copy_bytes(bytes, file, held);
    why = copied.write_failure;
    settle_file(root, file, work.settings);
    // An error reported at the close (a network file system, a quota)
    // leaves no byte of the file known to be on disk.
    Failure close_failure = Failure::none;
    written = close_file(file, &close_failure) ? copied.bytes : -1;
    if (written < 0) why = close_failure;
  }
  work.place = PreparedFile{};
  const Text errors = file_errors(failure, work.separator_name, work.size, written, why);
  work.made = failure == Failure::none && errors.empty();
  work.errors = over + errors;
}
