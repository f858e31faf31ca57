/* A library preloaded into holvex by the failure tests (POSIX) to make the
 * system report errors that a real disk or file system reports rarely:
 *
 *   HOLVEX_FAIL_ARCHIVE=PATH HOLVEX_FAIL_READ_FROM=N
 *     reads of the file PATH fail with EIO from byte offset N on; a read
 *     that starts before N gives the bytes before it, as a disk does when a
 *     later sector of the request is bad.
 *   HOLVEX_FAIL_CLOSE=NAME
 *     closing a file whose path ends in "/NAME" returns EIO (the file is
 *     closed), as a network file system does for a write it completes late.
 *   HOLVEX_FAIL_WRITE=NAME
 *     writes into a file whose path ends in "/NAME" fail with ENOSPC, as on
 *     a full disk.
 *   HOLVEX_FAIL_LOCKS=1
 *     every flock fails with ENOLCK, as on a file system that cannot lock
 *     (some network and FUSE file systems).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static void* next_symbol(const char* name) {
  return dlsym(RTLD_NEXT, name);
}

/* Whether the path of `fd` ends in "/" and the name in the variable
 * `setting`. */
static int named(int fd, const char* setting) {
  const char* name = getenv(setting);
  if (name == NULL) return 0;
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  if (length < 0) return 0;
  path[length] = '\0';
  const size_t name_length = strlen(name);
  return (size_t)length > name_length && path[length - name_length - 1] == '/' &&
         strcmp(path + length - name_length, name) == 0;
}

/* The bytes a read of `count` at `offset` of `fd` may give: `count` for
 * other files and for reads below the failing offset, -1 for a read that
 * starts at it or beyond. */
static ssize_t allowed(int fd, off_t offset, size_t count) {
  const char* path = getenv("HOLVEX_FAIL_ARCHIVE");
  const char* from_text = getenv("HOLVEX_FAIL_READ_FROM");
  struct stat archive, file;
  if (path == NULL || from_text == NULL || stat(path, &archive) != 0 || fstat(fd, &file) != 0 ||
      file.st_dev != archive.st_dev || file.st_ino != archive.st_ino) {
    return (ssize_t)count;
  }
  const off_t from = (off_t)strtoll(from_text, NULL, 10);
  if (offset >= from) return -1;
  return (off_t)count > from - offset ? (ssize_t)(from - offset) : (ssize_t)count;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  ssize_t (*real)(int, void*, size_t, off_t) = next_symbol("pread");
  const ssize_t limit = allowed(fd, offset, count);
  if (limit < 0) {
    errno = EIO;
    return -1;
  }
  return real(fd, buffer, (size_t)limit, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return pread(fd, buffer, count, offset);
}

ssize_t read(int fd, void* buffer, size_t count) {
  ssize_t (*real)(int, void*, size_t) = next_symbol("read");
  const off_t offset = lseek(fd, 0, SEEK_CUR);
  const ssize_t limit = offset < 0 ? (ssize_t)count : allowed(fd, offset, count);
  if (limit < 0) {
    errno = EIO;
    return -1;
  }
  return real(fd, buffer, (size_t)limit);
}

ssize_t copy_file_range(int in, off_t* in_offset, int out, off_t* out_offset, size_t count,
                        unsigned flags) {
  ssize_t (*real)(int, off_t*, int, off_t*, size_t, unsigned) = next_symbol("copy_file_range");
  if (named(out, "HOLVEX_FAIL_WRITE")) {
    errno = ENOSPC;
    return -1;
  }
  const off_t offset = in_offset != NULL ? *in_offset : lseek(in, 0, SEEK_CUR);
  const ssize_t limit = offset < 0 ? (ssize_t)count : allowed(in, offset, count);
  if (limit < 0) {
    errno = EIO;
    return -1;
  }
  return real(in, in_offset, out, out_offset, (size_t)limit, flags);
}

int close(int fd) {
  int (*real)(int) = next_symbol("close");
  const int failing = named(fd, "HOLVEX_FAIL_CLOSE");
  const int result = real(fd);
  if (result != 0 || !failing) return result;
  errno = EIO;
  return -1;
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  ssize_t (*real)(int, const void*, size_t, off_t) = next_symbol("pwrite");
  if (named(fd, "HOLVEX_FAIL_WRITE")) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
  return pwrite(fd, buffer, count, offset);
}

int flock(int fd, int operation) {
  int (*real)(int, int) = next_symbol("flock");
  if (getenv("HOLVEX_FAIL_LOCKS") != NULL) {
    errno = ENOLCK;
    return -1;
  }
  return real(fd, operation);
}
