#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "fileio/file_access.h"
#include "fileio/test_files.h"

namespace {

constexpr int32_t kArchive = 1;
constexpr int32_t kOutput = 2;

using FileAccessPosixTest = FileServiceTest;

// Another process that takes an exclusive lock on a file (non-blocking) and
// holds it until released. It says through a pipe whether it got the lock,
// and keeps it until the test closes the other pipe.
class LockingProcess {
 public:
  explicit LockingProcess(const Text& name) {
    int report[2];
    int release[2];
    if (pipe(report) != 0 || pipe(release) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(report[0]);
      close(release[1]);
      const int fd = open(name.c_str(), O_RDONLY);
      const char locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
      char ignored;
      if (write(report[1], &locked, 1) == 1) {
        while (read(release[0], &ignored, 1) > 0) {
        }
      }
      _exit(0);
    }
    close(report[1]);
    close(release[0]);
    release_ = release[1];
    char answer = 'n';
    got_lock_ = read(report[0], &answer, 1) == 1 && answer == 'y';
    close(report[0]);
  }
  ~LockingProcess() { release(); }
  LockingProcess(const LockingProcess&) = delete;
  LockingProcess& operator=(const LockingProcess&) = delete;

  bool got_lock() const { return got_lock_; }
  void release() {
    if (pid_ <= 0) return;
    close(release_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool got_lock_ = false;
};

TEST_F(FileAccessPosixTest, FileLockedByAnotherProcessIsNotOpened) {
  const Text name = dir.at("shared.tar");
  write_file(name, "archive data");
  LockingProcess other(name);
  ASSERT_TRUE(other.got_lock());

  open_binary(name, kArchive);
  EXPECT_EQ(at_end(kArchive), -1);
  open_output(name, kOutput);
  EXPECT_EQ(at_end(kOutput), -1);
  EXPECT_EQ(read_file(name), "archive data");

  other.release();
  open_binary(name, kArchive);
  EXPECT_EQ(read_block(kArchive, 512), "archive data");
}

TEST_F(FileAccessPosixTest, OpenFileIsLockedAgainstOtherProcesses) {
  const Text name = dir.at("mine.tar");
  write_file(name, "archive data");
  // The archive is shared with readers, never with a writer's lock.
  for (bool output : {false, true}) {
    output ? open_output(name, kOutput) : open_binary(name, kArchive);
    EXPECT_FALSE(LockingProcess(name).got_lock());
    close_file(kArchive);
    close_file(kOutput);
    EXPECT_TRUE(LockingProcess(name).got_lock());
  }
}

// While alive, files of this process cannot grow past `limit` bytes: writes
// beyond it fail as they do on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    previous_handler_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit reduced = previous_;
    reduced.rlim_cur = limit;
    if (setrlimit(RLIMIT_FSIZE, &reduced) != 0) throw std::runtime_error("setrlimit");
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, previous_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  sighandler_t previous_handler_ = SIG_DFL;
};

TEST_F(FileAccessPosixTest, FullOutputKeepsWhatFitAndTheArchiveMovesOn) {
  const Text archive = pattern_bytes(3 << 20, 9);
  write_file(dir.at("archive.tar"), archive);
  const int64_t blocks = (3 << 20) / 512;
  open_binary(dir.at("archive.tar"), kArchive);
  open_output(dir.at("member"), kOutput);
  {
    FileSizeLimit limit(1'500'000);
    // Bytes that reach the file are counted even when a piece fits only in part.
    EXPECT_EQ(copy_blocks(kArchive, kOutput, blocks, blocks * 512 - 10), 1'500'000);
    EXPECT_EQ(get_position(kOutput), 1'500'001);
    // A text that does not fit whole leaves the position where it was.
    write_text(kOutput, "more");
    EXPECT_EQ(get_position(kOutput), 1'500'001);
  }
  EXPECT_EQ(get_position(kArchive), 1 + blocks * 512);
  EXPECT_EQ(at_end(kArchive), 0);
  close_file(kOutput);
  EXPECT_TRUE(read_file(dir.at("member")) == archive.substr(0, 1'500'000));
}

TEST_F(FileAccessPosixTest, LongNameIsUsedWhole) {
  // 300 characters in all, under two directory levels of at most 255 each.
  const Text level = dir.at(Text(150, 'd'));
  ASSERT_EQ(mkdir(level.c_str(), 0777), 0);
  const Text name = level + "/" + Text(300 - level.size() - 1, 'f');
  ASSERT_EQ(name.size(), 300u);

  open_output(name, kOutput);
  write_text(kOutput, "long");
  close_file(kOutput);
  EXPECT_EQ(read_file(name), "long");
  EXPECT_FALSE(path_exists(name.substr(0, 255)));
}

TEST_F(FileAccessPosixTest, BackslashIsAnOrdinaryByte) {
  // A backslash is an ordinary byte of a POSIX name.
  const Text name = dir.at("back\\slash");
  open_output(name, kOutput);
  write_text(kOutput, "x");
  close_file(kOutput);
  EXPECT_EQ(read_file(name), "x");
}

TEST_F(FileAccessPosixTest, DirectoryIsNotOpened) {
  open_binary(dir.path(), kArchive);
  EXPECT_EQ(at_end(kArchive), -1);
  open_output(dir.path(), kOutput);
  EXPECT_EQ(at_end(kOutput), -1);
}

TEST_F(FileAccessPosixTest, DevicesHaveNoPositionsAndTakeNoOutput) {
  // Not disk files nor pipes: nothing is read, positions read as 0 and
  // seeks do nothing.
  open_binary("/dev/zero", kArchive);
  EXPECT_EQ(read_block(kArchive, 512), "");
  EXPECT_EQ(get_position(kArchive), 0);
  set_position(kArchive, 100);
  EXPECT_EQ(get_position(kArchive), 0);
  EXPECT_EQ(at_end(kArchive), 0);
  // Output goes only into regular files (the end-to-end tests have the
  // other kinds of entries).
  open_output("/dev/null", kOutput);
  EXPECT_EQ(at_end(kOutput), -1);
}

TEST_F(FileAccessPosixTest, CreatedFilesFollowTheUmask) {
  const mode_t previous = umask(027);
  open_output(dir.at("masked"), kOutput);
  umask(previous);
  close_file(kOutput);
  struct stat status;
  ASSERT_EQ(stat(dir.at("masked").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

}  // namespace
