// The file services' system calls on POSIX. Exclusive access is a
// non-blocking exclusive advisory lock (flock) taken right after the open; a
// file that another opener holds locked is not opened. Reads and writes of
// disk (regular) files go to the record's position with pread and pwrite, so
// a seek is bookkeeping only and needs no call.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "fileio/system_files.h"

static_assert(sizeof(off_t) == 8, "file positions need a 64-bit off_t");

namespace {

int descriptor(const FileRecord& record) {
  return static_cast<int>(record.handle);
}

int open_retrying(const Text& name, int flags) {
  // Never block on a FIFO without a peer, never become a controlling terminal
  // and never pass the descriptor on to another program.
  flags |= O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd;
  do {
    fd = ::open(name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// False only when another opener holds the file; a file system that cannot
// lock at all does not stop the open.
bool lock_exclusively(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno != EWOULDBLOCK;
}

void close_descriptor(int fd) {
  ::close(fd);
}

}  // namespace

Text system_file_name(const Text& name) {
  return name;
}

bool system_open(const Text& name, FileRecord& record) {
  const bool output = record.kind == FileKind::output;
  int fd = open_retrying(name, (output ? O_WRONLY : O_RDWR) | O_CREAT);
  if (fd < 0 && !output) fd = open_retrying(name, O_RDONLY | O_CREAT);
  if (fd < 0) return false;

  struct stat status;
  // A directory opens for reading on POSIX but can never be read as a file.
  if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode) || !lock_exclusively(fd)) {
    close_descriptor(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  record.handle = fd;
  record.disk_file = S_ISREG(status.st_mode);
  // Emptied only now that the file is held, never while another opener has it.
  if (output && record.disk_file && ::ftruncate(fd, 0) != 0) {
    // The old bytes past the written ones still go when the file is closed.
  }
  return true;
}

int64_t system_read(const FileRecord& record, char* buffer, int64_t n) {
  const int fd = descriptor(record);
  // No byte can lie past the largest offset; asking for them would be refused.
  if (record.disk_file) n = std::min(n, std::numeric_limits<int64_t>::max() - record.position);
  int64_t got = 0;
  while (got < n) {
    const ssize_t k = record.disk_file ? ::pread(fd, buffer + got, n - got, record.position + got)
                                       : ::read(fd, buffer + got, n - got);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return got > 0 ? got : -1;
    if (k == 0) break;
    got += k;
  }
  return got;
}

int64_t system_write(const FileRecord& record, const char* data, int64_t n) {
  const int fd = descriptor(record);
  int64_t put = 0;
  while (put < n) {
    const ssize_t k = record.disk_file ? ::pwrite(fd, data + put, n - put, record.position + put)
                                       : ::write(fd, data + put, n - put);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return put > 0 ? put : -1;
    put += k;
  }
  return put;
}

bool system_seek(const FileRecord&, int64_t offset) {
  return offset >= 0;
}

void system_close(const FileRecord& record) {
  const int fd = descriptor(record);
  if (record.kind == FileKind::output && record.disk_file &&
      ::ftruncate(fd, record.position) != 0) {
    // Nothing more can be done about a file that cannot be cut; it is closed.
  }
  close_descriptor(fd);
}
