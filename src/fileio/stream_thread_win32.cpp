// The stream's thread on Windows. A ReadFile waiting on a pipe opened for
// synchronous reads cannot be ended from another thread everywhere (Wine
// refuses CancelSynchronousIo there), so it is never made to wait: the
// thread looks at what the pipe holds (PeekNamedPipe) and waits on its wake
// event between looks, and reads once bytes or the pipe's end are there. A
// pipe that cannot be looked into (a Unix FIFO under Wine) is opened for
// overlapped reads instead (file_access_win32.cpp): its read waits together
// with the wake event, and is cancelled when the event comes first.
//
// The calls are made as they are, not through guarded_call: its error mode
// is the process's, which the main thread sets and restores at the same
// time, and a pipe has no medium to ask for.
#include <windows.h>

#include <algorithm>
#include <system_error>

#include "fileio/stream_thread.h"

namespace {

// The pause between two looks at an empty pipe: bytes that come are taken
// within it.
constexpr DWORD kLookPauseMs = 10;

HANDLE event_of(const WakeSignal& wake) {
  return reinterpret_cast<HANDLE>(wake.handle);
}

bool woken(const WakeSignal& wake, DWORD wait_ms) {
  if (wake.handle == -1) {
    if (wait_ms > 0) Sleep(wait_ms);
    return false;
  }
  return WaitForSingleObject(event_of(wake), wait_ms) == WAIT_OBJECT_0;
}

enum class Look { bytes, ended, empty, unknown };

// What the pipe holds now: bytes, its end (the writer has gone), nothing
// yet, or unknown (it cannot be looked into).
Look look_into(HANDLE pipe) {
  DWORD available = 0;
  if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
    return available > 0 ? Look::bytes : Look::empty;
  }
  return GetLastError() == ERROR_BROKEN_PIPE ? Look::ended : Look::unknown;
}

// One ReadFile; an overlapped one waits with the wake event and is
// cancelled when the event comes first. A synchronous one gives at once
// what the pipe holds.
int64_t read_once(HANDLE pipe, char* buffer, int64_t n, const WakeSignal& wake) {
  const DWORD asked = static_cast<DWORD>(std::min<int64_t>(n, MAXDWORD));
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return -1;
  DWORD got = 0;
  int64_t result = -1;
  if (ReadFile(pipe, buffer, asked, &got, &overlapped)) {
    result = got;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    const HANDLE events[2] = {overlapped.hEvent, event_of(wake)};
    const DWORD count = wake.handle == -1 ? 1 : 2;
    const DWORD which = WaitForMultipleObjects(count, events, FALSE, INFINITE);
    if (which != WAIT_OBJECT_0) CancelIoEx(pipe, &overlapped);
    if (GetOverlappedResult(pipe, &overlapped, &got, TRUE)) {
      result = got;
    } else if (GetLastError() == ERROR_OPERATION_ABORTED) {
      result = kPipeWoken;
    } else if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) {
      result = 0;
    }
  } else if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) {
    // The writer has gone: the pipe's end.
    result = 0;
  }
  CloseHandle(overlapped.hEvent);
  return result;
}

}  // namespace

WakeSignal open_wake() {
  WakeSignal wake;
  // Manual reset: once given it stays given, for every later wait.
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event != nullptr) wake.handle = reinterpret_cast<intptr_t>(event);
  return wake;
}

void give_wake(const WakeSignal& wake) {
  if (wake.handle != -1) SetEvent(event_of(wake));
}

void close_wake(WakeSignal& wake) {
  if (wake.handle != -1) CloseHandle(event_of(wake));
  wake.handle = -1;
}

int64_t read_pipe_awake(const FileRecord& record, char* buffer, int64_t n, const WakeSignal& wake) {
  const HANDLE pipe = reinterpret_cast<HANDLE>(record.handle);
  for (;;) {
    if (woken(wake, 0)) return kPipeWoken;
    const Look look = look_into(pipe);
    if (look == Look::ended) return 0;
    if (look != Look::empty) return read_once(pipe, buffer, n, wake);
    if (woken(wake, kLookPauseMs)) return kPipeWoken;
  }
}

bool pipe_ready(const FileRecord& record) {
  const Look look = look_into(reinterpret_cast<HANDLE>(record.handle));
  return look == Look::bytes || look == Look::ended;
}

bool start_quiet_thread(std::thread& thread, std::function<void()> body) {
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}
