// What the stream's thread needs of the system (archive_stream.cpp): to be
// started with no signal to take, and to read a pipe in a way that another
// thread can end at once, whatever the pipe's writer does.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "fileio/file_record.h"

// A signal that ends a wait for a pipe from another thread: an eventfd on
// POSIX, an event on Windows. `handle` is -1 when none could be made.
struct WakeSignal {
  intptr_t handle = -1;
};

WakeSignal open_wake();
// Gives the signal: the wait in progress, and every later one, ends at once.
void give_wake(const WakeSignal& wake);
void close_wake(WakeSignal& wake);

// What read_pipe_awake returns when the wake signal ended its wait.
inline constexpr int64_t kPipeWoken = -2;

// One read of pipe `record`: the bytes it gives, up to `n` (0 once the
// writer has gone; a FIFO that never had one is waited on), waiting for them
// until `wake` is given (kPipeWoken). -1 when the read fails.
int64_t read_pipe_awake(const FileRecord& record, char* buffer, int64_t n, const WakeSignal& wake);

// True when a read of pipe `record` would give bytes or the pipe's end at
// once; false when it would wait, or when that cannot be told.
bool pipe_ready(const FileRecord& record);

// Starts `body` on `thread` with every signal blocked there (POSIX), so
// that the signals the program handles are taken by its main thread. False
// when the thread cannot be made.
bool start_quiet_thread(std::thread& thread, std::function<void()> body);
