// The size of an open file on Windows, from GetFileSizeEx of its handle.
#include <windows.h>

#include "fileio/file_access.h"
#include "fileio/file_table.h"
#include "fileio/system_call_win32.h"

int64_t file_size(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || !record->disk_file) return 0;
  LARGE_INTEGER size{};
  const HANDLE handle = reinterpret_cast<HANDLE>(record->handle);
  if (!guarded_ok([&] { return GetFileSizeEx(handle, &size); })) return 0;
  return static_cast<int64_t>(size.QuadPart);
}
