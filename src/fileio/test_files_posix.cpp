#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

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

TestPipe::TestPipe(const TempDir& dir) {
  static int made = 0;
  name_ = dir.at("pipe-" + std::to_string(++made));
  if (mkfifo(name_.c_str(), 0600) != 0) throw std::runtime_error("cannot make " + name_);
}

TestPipe::~TestPipe() {
  close_writer();
}

void TestPipe::open_writer() {
  writer_ = open(name_.c_str(), O_WRONLY | O_CLOEXEC);
  if (writer_ < 0) throw std::runtime_error("cannot open " + name_ + " for writing");
}

void TestPipe::write(const Text& bytes) {
  if (::write(static_cast<int>(writer_), bytes.data(), bytes.size()) !=
      static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("cannot write to " + name_);
  }
}

void TestPipe::close_writer() {
  if (writer_ >= 0) close(static_cast<int>(writer_));
  writer_ = -1;
}
