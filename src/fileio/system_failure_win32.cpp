// GetLastError codes as the failures the program says.
#include <windows.h>

#include "fileio/failure.h"

namespace {

// A disk quota used up; not named by every set of the system's headers.
constexpr DWORD kDiskQuotaExceeded = 1295;

}  // namespace

Failure failure_of_system_error(uint32_t code, Failure fallback) {
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Failure::no_space;
    case kDiskQuotaExceeded:
      return Failure::quota;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return Failure::permission;
    case ERROR_WRITE_PROTECT:
      return Failure::read_only;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return Failure::name_too_long;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return Failure::invalid_name;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return Failure::vanished;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Failure::in_use;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_NOT_READY:
      return Failure::io_error;
    default:
      return fallback;
  }
}
