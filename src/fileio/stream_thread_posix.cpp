// The stream's thread on POSIX: a pipe is waited on with poll, together
// with an eventfd that the reader writes to when the stream stops.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "fileio/stream_thread.h"

namespace {

// Polls the pipe (and the wake signal) for `timeout_ms` (-1: without limit):
// 1 when a read of the pipe gives something at once (bytes, the writer gone,
// an error), 0 when not, kPipeWoken when woken, -1 on failure.
int poll_pipe(const FileRecord& record, const WakeSignal& wake, int timeout_ms) {
  pollfd wanted[2] = {{static_cast<int>(record.handle), POLLIN, 0},
                      {static_cast<int>(wake.handle), POLLIN, 0}};
  const nfds_t count = wake.handle >= 0 ? 2 : 1;
  int result;
  do {
    result = ::poll(wanted, count, timeout_ms);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return -1;
  if (count == 2 && wanted[1].revents != 0) return static_cast<int>(kPipeWoken);
  if (wanted[0].revents & POLLNVAL) return -1;
  return wanted[0].revents != 0 ? 1 : 0;
}

}  // namespace

WakeSignal open_wake() {
  WakeSignal wake;
  wake.handle = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return wake;
}

void give_wake(const WakeSignal& wake) {
  if (wake.handle < 0) return;
  const uint64_t one = 1;
  ssize_t written;
  do {
    written = ::write(static_cast<int>(wake.handle), &one, sizeof one);
  } while (written < 0 && errno == EINTR);
}

void close_wake(WakeSignal& wake) {
  if (wake.handle >= 0) ::close(static_cast<int>(wake.handle));
  wake.handle = -1;
}

int64_t read_pipe_awake(const FileRecord& record, char* buffer, int64_t n, const WakeSignal& wake) {
  // Polled first: a FIFO read before any writer has opened it would end at
  // once, as if the writer had come and gone.
  const int polled = poll_pipe(record, wake, -1);
  if (polled != 1) return polled == 0 ? -1 : polled;
  ssize_t got;
  do {
    got = ::read(static_cast<int>(record.handle), buffer, static_cast<size_t>(n));
  } while (got < 0 && errno == EINTR);
  return got < 0 ? -1 : got;
}

bool pipe_ready(const FileRecord& record) {
  return poll_pipe(record, WakeSignal{}, 0) == 1;
}

bool start_quiet_thread(std::thread& thread, std::function<void()> body) {
  // The new thread takes the creator's signal mask.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  bool started = true;
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    started = false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}
