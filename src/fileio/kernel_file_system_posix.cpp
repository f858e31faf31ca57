#include "fileio/kernel_file_system_posix.h"

#include <errno.h>
#include <sys/vfs.h>

namespace {

// File system magic numbers (statfs f_type) of the kernel's interfaces.
constexpr unsigned long kInterfaceFileSystems[] = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x1cd1,      // devpts
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x62656570,  // configfs
    0xcafe4a11,  // bpf
    0xde5e81e4,  // efivarfs
    0x6165676c,  // pstore
    0x42494e4d,  // binfmt_misc
    0x65735543,  // fusectl
    0x7655821,   // resctrl
    0x6e736673,  // nsfs
    0xf97cff8c,  // selinuxfs
    0x43415d53,  // smackfs
    0x9fa2,      // usbfs
};

}  // namespace

bool on_ordinary_file_system(int fd) {
  struct statfs status;
  int result;
  do {
    result = ::fstatfs(fd, &status);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return false;
  // f_type is signed on some systems: compare its low 32 bits.
  const unsigned long type = static_cast<unsigned long>(status.f_type) & 0xffffffffUL;
  for (unsigned long interface : kInterfaceFileSystems) {
    if (type == interface) return false;
  }
  return true;
}
