// The file services' system calls on POSIX. The archive is held with a
// shared non-blocking advisory lock (flock): readers share, and a file that
// another opener holds locked for writing is not opened. Reads and writes of
// disk (regular) files go to the record's position with pread and pwrite, so
// a seek is bookkeeping only and needs no call. Output files are opened by
// the output root (output_root_posix.cpp).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "fileio/file_identity_posix.h"
#include "fileio/file_record.h"
#include "fileio/system_files.h"

static_assert(sizeof(off_t) == 8, "file positions need a 64-bit off_t");

namespace {

int descriptor(const FileRecord& record) {
  return static_cast<int>(record.handle);
}

// False only when another opener holds the file in a way that excludes this
// lock; a file system that cannot lock at all does not stop the open.
bool lock_shared(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_SH | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno != EWOULDBLOCK;
}

// False when the close reports an error: a write that the file system
// completes only now (network file systems, quotas) has failed. The
// descriptor is released either way and is never closed twice.
bool close_descriptor(int fd) {
  return ::close(fd) == 0 || errno == EINTR;
}

// A socket cannot be opened by its name (ENXIO): when `name` names the
// standard input's socket (/dev/stdin, /proc/self/fd/0, as for a program
// started by inetd or socat), that descriptor is read, as a pipe's would be.
int standard_input_socket(const Text& name) {
  struct stat named;
  struct stat input;
  if (::stat(name.c_str(), &named) != 0 || !S_ISSOCK(named.st_mode) ||
      ::fstat(STDIN_FILENO, &input) != 0 || named.st_dev != input.st_dev ||
      named.st_ino != input.st_ino) {
    return -1;
  }
  return ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

// The bytes a disk file holds: a block device (a disk, a disk image on a
// loop device) has no size of its own in its status, only its end.
int64_t disk_file_length(int fd, const struct stat& status) {
  if (!S_ISBLK(status.st_mode)) return static_cast<int64_t>(status.st_size);
  const off_t end = ::lseek(fd, 0, SEEK_END);
  return end > 0 ? static_cast<int64_t>(end) : 0;
}

}  // namespace

// The archive: read only, never created, never opened for writing (so a
// watcher sees no write and a file that vanished is not made anew).
bool system_open_archive(const Text& name, FileRecord& record) {
  // Never block on a FIFO without a writer: its reads wait for data instead.
  // Never become a controlling terminal, never pass the descriptor on.
  int fd;
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENXIO) fd = standard_input_socket(name);
  if (fd < 0) return false;

  struct stat status;
  // A directory opens for reading on POSIX but can never be read as a file.
  if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode) || !lock_shared(fd)) {
    close_descriptor(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  record.handle = fd;
  // A block device is read as the file it holds, as every tar reader reads it.
  record.disk_file = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);
  record.pipe = S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
  if (record.disk_file) {
    record.identity = identity_of(status);
    record.length = disk_file_length(fd, status);
  }
  return true;
}

int64_t system_read(const FileRecord& record, char* buffer, int64_t n, Failure& failure) {
  const int fd = descriptor(record);
  // No byte can lie past the largest offset; asking for them would be refused.
  if (record.disk_file) n = std::min(n, std::numeric_limits<int64_t>::max() - record.position);
  int64_t got = 0;
  while (got < n) {
    const ssize_t k = record.disk_file ? ::pread(fd, buffer + got, n - got, record.position + got)
                                       : ::read(fd, buffer + got, n - got);
    if (k < 0 && errno == EINTR) continue;
    // A failure after some bytes is still a failure, never a short read
    // (which would pass for the end of the file).
    if (k < 0) {
      failure = failure_of_system_error(errno, Failure::io_error);
      return -1;
    }
    if (k == 0) break;
    got += k;
  }
  return got;
}

int64_t system_write(const FileRecord& record, const char* data, int64_t n, Failure& failure) {
  const int fd = descriptor(record);
  int64_t put = 0;
  while (put < n) {
    const ssize_t k = record.disk_file ? ::pwrite(fd, data + put, n - put, record.position + put)
                                       : ::write(fd, data + put, n - put);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      failure = k < 0 ? failure_of_system_error(errno) : Failure::no_space;
      return put > 0 ? put : -1;
    }
    put += k;
  }
  return put;
}

int64_t system_copy_range(FileRecord& from, const FileRecord& to, int64_t n) {
  if (!from.disk_file || !to.disk_file || n <= 0) return 0;
  const int in = descriptor(from);
  // A hole in the archive is left to the copy through memory, which keeps it
  // a hole in the output instead of writing its zeros.
  DataRun& run = from.data_run;
  if (from.position < run.from || from.position + n > run.end) {
    const off_t hole = ::lseek(in, from.position, SEEK_HOLE);
    if (hole < 0) return 0;
    run = DataRun{from.position, hole};
  }
  if (run.end - from.position < n) return 0;
  off_t in_offset = from.position;
  off_t out_offset = to.position;
  int64_t copied = 0;
  while (copied < n) {
    const ssize_t k = ::copy_file_range(in, &in_offset, descriptor(to), &out_offset, n - copied, 0);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    copied += k;
  }
  return copied;
}

// A POSIX file system that can keep holes keeps every file's.
void system_mark_sparse(const FileRecord&) {}

bool system_seek(const FileRecord&, int64_t offset) {
  return offset >= 0;
}

int64_t system_size(const FileRecord& record) {
  struct stat status;
  if (::fstat(descriptor(record), &status) != 0) return -1;
  return disk_file_length(descriptor(record), status);
}

bool system_close(const FileRecord& record, Failure& failure) {
  const int fd = descriptor(record);
  // A file whose length is known to end at the position needs no cut; one
  // that cannot be cut may keep older bytes past it.
  const bool cut = record.kind != FileKind::output || !record.disk_file ||
                   record.length == record.position || ::ftruncate(fd, record.position) == 0;
  if (!cut) failure = failure_of_system_error(errno);
  const bool closed = close_descriptor(fd);
  if (!closed) failure = failure_of_system_error(errno, Failure::io_error);
  return cut && closed;
}
