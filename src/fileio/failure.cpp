#include "fileio/failure.h"

Text failure_reason(Failure failure) {
  switch (failure) {
    case Failure::none:
      return "";
    case Failure::no_space:
      return "no space left on the disk";
    case Failure::quota:
      return "the disk quota is used up";
    case Failure::permission:
      return "permission denied";
    case Failure::read_only:
      return "the file system is read-only";
    case Failure::name_too_long:
      return "the name is too long for this file system";
    case Failure::invalid_name:
      return "the file system cannot hold this name";
    case Failure::file_in_the_way:
      return "a file stands where a directory must be";
    case Failure::link_in_the_way:
      return "a link stands where a directory must be";
    case Failure::directory_there:
      return "a directory stands at this name";
    case Failure::not_a_file:
      return "a device, FIFO or socket stands at this name";
    case Failure::link_there:
      return "a link stands at this name";
    case Failure::directory_name:
      return "its name ends in a separator, as a directory's does";
    case Failure::in_use:
      return "another program holds the file";
    case Failure::the_archive:
      return "it is the archive being read";
    case Failure::kernel_files:
      return "nothing is written among the kernel's interface files";
    case Failure::too_deep:
      return "the path has more levels than any real path";
    case Failure::vanished:
      return "a directory on the way was removed";
    case Failure::links_refused:
      return "the system makes no such link here";
    case Failure::io_error:
      return "an input/output error";
    case Failure::damaged_data:
      return "the compressed data is damaged";
    case Failure::failed_check:
      return "the compressed data fails its check";
    case Failure::cut_data:
      return "the compressed data is cut short";
    case Failure::stopped:
      return "stopped by the keys";
    case Failure::unknown:
      break;
  }
  return "an unexpected error from the system";
}
