// The file services' system calls on Windows: CreateFileW, for an output
// file with share mode 0 (no other opener while it is open), for the archive
// for reading only and shared with readers; ReadFile and WriteFile at the
// system's file pointer, SetFilePointer with its high part for 64-bit
// positions, SetEndOfFile to empty and to end output files. Names reach the
// system whole, however long (system_path).
#include <windows.h>

#include <algorithm>

#include "fileio/file_table.h"
#include "fileio/output_root.h"
#include "fileio/system_call_win32.h"
#include "fileio/system_files.h"
#include "fileio/system_path_win32.h"

namespace {

HANDLE handle_of(const FileRecord& record) {
  return reinterpret_cast<HANDLE>(record.handle);
}

HANDLE create_file(const Text& name, DWORD access, DWORD share, DWORD creation, DWORD flags) {
  const SystemPath target = system_path(name);
  if (target.path.empty()) return INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  DWORD last_error = 0;
  // The returned handle decides: OPEN_ALWAYS leaves an error code behind
  // when the file already existed.
  return guarded_call(
      [&] {
        return CreateFileW(target.path.c_str(), access, share, &security, creation,
                           FILE_ATTRIBUTE_NORMAL | flags, nullptr);
      },
      last_error);
}

// The archive is opened for reading only and never created. Other readers
// may share it (a second Holvex on another part of it) and so may a rename
// or delete, which on POSIX never stops a reader either; a writer may not,
// neither before nor while it is read, so its bytes cannot change under the
// walk.
HANDLE open_archive(const Text& name) {
  return create_file(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, 0);
}

void close_handle(HANDLE handle) {
  guarded_ok([&] { return CloseHandle(handle); });
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
  close_handle(pipe);
  return overlapped;
}

}  // namespace

bool system_open(const Text& name, FileRecord& record) {
  const bool output = record.kind == FileKind::output;
  // Below the output directory a reparse point (symbolic link or junction)
  // is opened as itself, never followed, and then refused.
  const ParentLevel level = output ? reach_parent(name) : ParentLevel{};
  if (level.place == PathPlace::refused) return false;
  const DWORD flags = level.place == PathPlace::below_root ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  if (output) {
    // Most output files are new: made here, they are empty files with one
    // name, so nothing about them needs asking but that they are disk files
    // (a device name opens its device). CREATE_NEW fails on anything already
    // there, a link included.
    const HANDLE created = create_file(name, GENERIC_WRITE, 0, CREATE_NEW, flags);
    if (created != INVALID_HANDLE_VALUE) {
      DWORD last_error = 0;
      if (guarded_call([&] { return GetFileType(created); }, last_error) != FILE_TYPE_DISK) {
        close_handle(created);
        return false;
      }
      record.handle = reinterpret_cast<intptr_t>(created);
      record.disk_file = true;
      record.length = 0;
      return true;
    }
  }
  HANDLE handle =
      output ? create_file(name, GENERIC_WRITE, 0, OPEN_EXISTING, flags) : open_archive(name);
  if (handle == INVALID_HANDLE_VALUE) return false;

  DWORD last_error = 0;
  const DWORD type = guarded_call([&] { return GetFileType(handle); }, last_error);
  // Output goes only into a disk file: never into a device or a pipe.
  if (output && type != FILE_TYPE_DISK) {
    close_handle(handle);
    return false;
  }
  if (!output && type == FILE_TYPE_PIPE) handle = cancellable_pipe(handle);
  record.handle = reinterpret_cast<intptr_t>(handle);
  record.disk_file = type == FILE_TYPE_DISK;
  record.pipe = type == FILE_TYPE_PIPE;
  BY_HANDLE_FILE_INFORMATION information{};
  if (record.disk_file &&
      guarded_ok([&] { return GetFileInformationByHandle(handle, &information); })) {
    record.identity.known = true;
    record.identity.volume = information.dwVolumeSerialNumber;
    record.identity.file_id =
        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  }
  if (!output) {
    if (record.disk_file) {
      record.length = static_cast<int64_t>(
          (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    }
    move_pointer(handle, 0);
    return true;
  }
  // Never emptied: a link, a file with other names (hard links) whose
  // content would change with it, or a file already open (the archive).
  if (record.disk_file && ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                           information.nNumberOfLinks > 1 || identity_open(record.identity))) {
    close_handle(handle);
    return false;
  }
  if (record.disk_file && move_pointer(handle, 0) &&
      guarded_ok([&] { return SetEndOfFile(handle); })) {
    record.length = 0;
  }
  return true;
}

int64_t system_read(const FileRecord& record, char* buffer, int64_t n) {
  const DWORD asked = static_cast<DWORD>(std::min<int64_t>(n, MAXDWORD));
  DWORD got = 0;
  if (!guarded_ok([&] { return ReadFile(handle_of(record), buffer, asked, &got, nullptr); })) {
    return -1;
  }
  return got;
}

int64_t system_write(const FileRecord& record, const char* data, int64_t n) {
  const DWORD length = static_cast<DWORD>(std::min<int64_t>(n, MAXDWORD));
  DWORD put = 0;
  if (!guarded_ok([&] { return WriteFile(handle_of(record), data, length, &put, nullptr); })) {
    return put > 0 ? static_cast<int64_t>(put) : -1;
  }
  return put;
}

// Every copy goes through memory on Windows.
int64_t system_copy_range(const FileRecord&, const FileRecord&, int64_t) {
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

bool system_close(const FileRecord& record) {
  HANDLE handle = handle_of(record);
  bool cut = true;
  // A file whose length is known to end at the position needs no cut.
  if (record.kind == FileKind::output && record.disk_file && record.length != record.position) {
    cut = guarded_ok([&] { return SetEndOfFile(handle); });
  }
  const bool closed = guarded_ok([&] { return CloseHandle(handle); });
  return cut && closed;
}
