#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "fileio/test_files.h"

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

AsPlainUser::AsPlainUser() {
  if (geteuid() != 0) return;
  if (setegid(kNobody) != 0 || seteuid(kNobody) != 0) throw std::runtime_error("seteuid");
  switched_ = true;
}

AsPlainUser::~AsPlainUser() {
  if (!switched_) return;
  if (seteuid(0) != 0 || setegid(0) != 0) std::abort();
}

void make_sparse_file(const Text& path, int64_t size, int64_t offset, const Text& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0 && ftruncate(fd, size) == 0 &&
            pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
  if (fd >= 0) ok = close(fd) == 0 && ok;
  if (!ok) throw std::runtime_error("cannot make sparse file " + path);
}

bool read_only_files_bind(const TempDir&) {
  return geteuid() != 0;
}
