// The file services' system calls on POSIX. An output file is held with a
// non-blocking exclusive advisory lock (flock) taken right after the open,
// the archive with a shared one: readers share, and a file that another
// opener holds locked for writing is not opened. Output files are
// opened from their parent directory as the output root reaches it, so no
// link below the output directory is ever followed. Reads and writes of
// disk (regular) files go to the record's position with pread and pwrite, so
// a seek is bookkeeping only and needs no call.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "fileio/file_table.h"
#include "fileio/kernel_file_system_posix.h"
#include "fileio/output_root.h"
#include "fileio/system_files.h"

static_assert(sizeof(off_t) == 8, "file positions need a 64-bit off_t");

namespace {

int descriptor(const FileRecord& record) {
  return static_cast<int>(record.handle);
}

int open_retrying(int directory, const Text& name, int flags) {
  // Never become a controlling terminal and never pass the descriptor on to
  // another program.
  flags |= O_NOCTTY | O_CLOEXEC;
  int fd;
  do {
    fd = ::openat(directory, name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.known = true;
  identity.volume = static_cast<uint64_t>(status.st_dev);
  identity.file_id = static_cast<uint64_t>(status.st_ino);
  return identity;
}

// False only when another opener holds the file in a way that excludes this
// lock; a file system that cannot lock at all does not stop the open.
bool lock(int fd, int kind) {
  int result;
  do {
    result = ::flock(fd, kind | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno != EWOULDBLOCK;
}

bool lock_exclusively(int fd) {
  return lock(fd, LOCK_EX);
}

// False when the close reports an error: a write that the file system
// completes only now (network file systems, quotas) has failed. The
// descriptor is released either way and is never closed twice.
bool close_descriptor(int fd) {
  return ::close(fd) == 0 || errno == EINTR;
}

// The archive: read only, never created, never opened for writing (so a
// watcher sees no write and a file that vanished is not made anew).
bool system_open_binary(const Text& name, FileRecord& record) {
  // Never block on a FIFO without a writer: its reads wait for data instead.
  const int fd = open_retrying(AT_FDCWD, name, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;

  struct stat status;
  // A directory opens for reading on POSIX but can never be read as a file.
  if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode) || !lock(fd, LOCK_SH)) {
    close_descriptor(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  record.handle = fd;
  record.disk_file = S_ISREG(status.st_mode);
  record.pipe = S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
  if (record.disk_file) {
    record.identity = identity_of(status);
    record.length = static_cast<int64_t>(status.st_size);
  }
  return true;
}

// Opens an output file that already exists, without following a link below
// the output directory. Only a regular file on an ordinary file system is
// ever opened for output: a device, FIFO, socket or directory at the path,
// or a file of the kernel's interfaces (/proc, /sys), is left as it is. The
// entry is looked at before the open, so that no device or FIFO is even
// opened, and what was opened is checked again before a byte is written (the
// entry may have been replaced in between); the open never waits for a
// FIFO's reader. The file is emptied only once it is held, and only when it
// is neither an open file (the archive) nor a file with other names (hard
// links) whose content would change with it.
bool open_existing_output(const ParentLevel& level, FileRecord& record) {
  const bool below_root = level.place == PathPlace::below_root;
  const int directory = static_cast<int>(level.directory);
  struct stat status;
  if (::fstatat(directory, level.leaf.c_str(), &status, below_root ? AT_SYMLINK_NOFOLLOW : 0) !=
      0) {
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    errno = EPERM;
    return false;
  }
  const int fd =
      open_retrying(directory, level.leaf, O_WRONLY | O_NONBLOCK | (below_root ? O_NOFOLLOW : 0));
  if (fd < 0) return false;
  const bool usable = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                      status.st_nlink <= 1 && !identity_open(identity_of(status)) &&
                      on_ordinary_file_system(fd);
  if (!usable || !lock_exclusively(fd)) {
    close_descriptor(fd);
    errno = EPERM;
    return false;
  }
  record.handle = fd;
  record.disk_file = true;
  record.identity = identity_of(status);
  record.length = status.st_size;
  // The old bytes past the written ones still go when the file is closed.
  if (status.st_size == 0 || ::ftruncate(fd, 0) == 0) record.length = 0;
  return true;
}

bool system_open_output(const Text& name, FileRecord& record) {
  const ParentLevel level = reach_parent(name);
  if (level.place == PathPlace::refused) return false;
  // Most output files are new: made here, they are empty regular files with
  // one name, in a directory whose file system was looked at when it was
  // reached, so nothing about them needs asking, and no lock: no other
  // opener can hold a file this open has just made. O_EXCL never follows a
  // link, not even a dangling one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd =
        open_retrying(static_cast<int>(level.directory), level.leaf, O_WRONLY | O_CREAT | O_EXCL);
    if (fd >= 0) {
      record.handle = fd;
      record.disk_file = true;
      record.length = 0;
      return true;
    }
    if (errno != EEXIST) return false;
    if (open_existing_output(level, record)) return true;
    // Removed between the two opens: make it anew, once.
    if (errno != ENOENT) return false;
  }
  return false;
}

// A stretch of a file known to hold data without a hole: found once for
// the many pieces of a copy inside the system, since the search for the next
// hole runs through the file. Only the archive is ever copied from.
struct DataRun {
  FileIdentity file;
  int64_t from = 0;
  int64_t end = 0;
};

DataRun& known_data() {
  static DataRun run;
  return run;
}

}  // namespace

bool system_open(const Text& name, FileRecord& record) {
  return record.kind == FileKind::output ? system_open_output(name, record)
                                         : system_open_binary(name, record);
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
    // A failure after some bytes is still a failure, never a short read
    // (which would pass for the end of the file).
    if (k < 0) return -1;
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

int64_t system_copy_range(const FileRecord& from, const FileRecord& to, int64_t n) {
  if (!from.disk_file || !to.disk_file || n <= 0) return 0;
  const int in = descriptor(from);
  // A hole in the archive is left to the copy through memory, which keeps it
  // a hole in the output instead of writing its zeros.
  DataRun& run = known_data();
  const bool same_file = run.file.known && run.file.volume == from.identity.volume &&
                         run.file.file_id == from.identity.file_id;
  if (!same_file || from.position < run.from || from.position + n > run.end) {
    const off_t hole = ::lseek(in, from.position, SEEK_HOLE);
    if (hole < 0) return 0;
    run = DataRun{from.identity, from.position, hole};
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

bool system_close(const FileRecord& record) {
  const int fd = descriptor(record);
  // A file whose length is known to end at the position needs no cut; one
  // that cannot be cut may keep older bytes past it.
  const bool cut = record.kind != FileKind::output || !record.disk_file ||
                   record.length == record.position || ::ftruncate(fd, record.position) == 0;
  const bool closed = close_descriptor(fd);
  return cut && closed;
}
