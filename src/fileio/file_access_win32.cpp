// The file services' system calls on Windows: the archive opened with
// CreateFileW for reading only and shared with readers; ReadFile and
// WriteFile at the system's file pointer, SetFilePointer with its high part
// for 64-bit positions, SetEndOfFile to end output files. Names reach the
// system whole, however long (system_path). Output files are opened by the
// output root (output_root_win32.cpp). No handle is inherited by another
// program.
#include <windows.h>

#include <algorithm>

#include "fileio/file_record.h"
#include "fileio/system_call_win32.h"
#include "fileio/system_files.h"
#include "fileio/system_path_win32.h"

namespace {

HANDLE handle_of(const FileRecord& record) {
  return reinterpret_cast<HANDLE>(record.handle);
}

bool move_pointer(HANDLE handle, int64_t offset) {
  LONG high = static_cast<LONG>(static_cast<uint64_t>(offset) >> 32);
  const LONG low = static_cast<LONG>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  DWORD last_error = 0;
  // The low part returned may equal INVALID_SET_FILE_POINTER for a valid
  // position, so only the last error tells a failure.
  guarded_call([&] { return SetFilePointer(handle, low, &high, FILE_BEGIN); }, last_error);
  return last_error == 0;
}

// A pipe the stream's thread cannot look into (PeekNamedPipe refuses a
// Unix FIFO under Wine) is opened again for overlapped reads, which that
// thread can cancel when the stream stops (stream_thread_win32.cpp). Any
// other pipe, and one that cannot be opened so, stays as it is.
HANDLE cancellable_pipe(HANDLE pipe) {
  DWORD available = 0;
  DWORD last_error = 0;
  if (guarded_call([&] { return PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr); },
                   last_error) ||
      last_error == ERROR_BROKEN_PIPE) {
    return pipe;
  }
  const HANDLE overlapped = guarded_call(
      [&] {
        return ReOpenFile(pipe, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          FILE_FLAG_OVERLAPPED);
      },
      last_error);
  if (overlapped == INVALID_HANDLE_VALUE) return pipe;
  guarded_ok([&] { return CloseHandle(pipe); });
  return overlapped;
}

}  // namespace

// The archive is opened for reading only and never created. Other readers
// may share it (a second Holvex on another part of it) and so may a rename
// or delete, which on POSIX never stops a reader either; a writer may not,
// neither before nor while it is read, so its bytes cannot change under the
// walk.
bool system_open_archive(const Text& name, FileRecord& record) {
  const SystemPath target = system_path(name);
  if (target.path.empty()) return false;
  DWORD last_error = 0;
  HANDLE handle = guarded_call(
      [&] {
        return CreateFileW(target.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      },
      last_error);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = guarded_call([&] { return GetFileType(handle); }, last_error);
  record.handle =
      reinterpret_cast<intptr_t>(type == FILE_TYPE_PIPE ? cancellable_pipe(handle) : handle);
  record.disk_file = type == FILE_TYPE_DISK;
  record.pipe = type == FILE_TYPE_PIPE;
  BY_HANDLE_FILE_INFORMATION information{};
  if (record.disk_file &&
      guarded_ok([&] { return GetFileInformationByHandle(handle, &information); })) {
    record.identity.known = true;
    record.identity.volume = information.dwVolumeSerialNumber;
    record.identity.file_id =
        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    record.length = static_cast<int64_t>((static_cast<uint64_t>(information.nFileSizeHigh) << 32) |
                                         information.nFileSizeLow);
  }
  move_pointer(reinterpret_cast<HANDLE>(record.handle), 0);
  return true;
}

int64_t system_read(const FileRecord& record, char* buffer, int64_t n, Failure& failure) {
  const DWORD asked = static_cast<DWORD>(std::min<int64_t>(n, MAXDWORD));
  DWORD got = 0;
  DWORD last_error = 0;
  if (!guarded_call([&] { return ReadFile(handle_of(record), buffer, asked, &got, nullptr); },
                    last_error)) {
    failure = failure_of_system_error(last_error, Failure::io_error);
    return -1;
  }
  return got;
}

int64_t system_write(const FileRecord& record, const char* data, int64_t n, Failure& failure) {
  const DWORD length = static_cast<DWORD>(std::min<int64_t>(n, MAXDWORD));
  DWORD put = 0;
  DWORD last_error = 0;
  if (!guarded_call([&] { return WriteFile(handle_of(record), data, length, &put, nullptr); },
                    last_error)) {
    failure = failure_of_system_error(last_error);
    return put > 0 ? static_cast<int64_t>(put) : -1;
  }
  if (put < length) failure = Failure::no_space;
  return put;
}

// Every copy goes through memory on Windows.
int64_t system_copy_range(FileRecord&, const FileRecord&, int64_t) {
  return 0;
}

// NTFS leaves a range moved past as a hole only in a file marked sparse; a
// volume that cannot mark it writes zeros there, as before.
void system_mark_sparse(const FileRecord& record) {
  DWORD returned = 0;
  guarded_ok([&] {
    return DeviceIoControl(handle_of(record), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                           nullptr);
  });
}

bool system_seek(const FileRecord& record, int64_t offset) {
  return move_pointer(handle_of(record), offset);
}

int64_t system_size(const FileRecord& record) {
  LARGE_INTEGER size{};
  if (!guarded_ok([&] { return GetFileSizeEx(handle_of(record), &size); })) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

bool system_close(const FileRecord& record, Failure& failure) {
  HANDLE handle = handle_of(record);
  bool cut = true;
  // A file whose length is known to end at the position needs no cut.
  if (record.kind == FileKind::output && record.disk_file && record.length != record.position) {
    DWORD last_error = 0;
    cut = guarded_call([&] { return SetEndOfFile(handle); }, last_error);
    if (!cut) failure = failure_of_system_error(last_error);
  }
  DWORD last_error = 0;
  const bool closed = guarded_call([&] { return CloseHandle(handle); }, last_error);
  if (!closed) failure = failure_of_system_error(last_error, Failure::io_error);
  return cut && closed;
}
