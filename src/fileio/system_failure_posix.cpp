// errno values as the failures the program says.
#include <errno.h>

#include "fileio/failure.h"

Failure failure_of_system_error(uint32_t code, Failure fallback) {
  switch (static_cast<int>(code)) {
    case ENOSPC:
      return Failure::no_space;
    case EDQUOT:
      return Failure::quota;
    case EACCES:
    case EPERM:
      return Failure::permission;
    case EROFS:
      return Failure::read_only;
    case ENAMETOOLONG:
      return Failure::name_too_long;
    case EILSEQ:
    case EINVAL:
      return Failure::invalid_name;
    case ENOTDIR:
      return Failure::file_in_the_way;
    case ELOOP:
      return Failure::link_in_the_way;
    case EISDIR:
      return Failure::directory_there;
    case ENOENT:
      return Failure::vanished;
    case EWOULDBLOCK:
    case ETXTBSY:
      return Failure::in_use;
    case EIO:
      return Failure::io_error;
    default:
      return fallback;
  }
}
