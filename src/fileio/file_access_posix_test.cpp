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

TEST_F(FileAccessPosixTest, FileLockedByAnotherProcessIsReplacedNotWritten) {
  const Text name = dir.at("shared.tar");
  write_file(name, "archive data");
  LockingProcess other(name);
  ASSERT_TRUE(other.got_lock());
  // The file the other process holds, as it sees it.
  const int held = open(name.c_str(), O_RDONLY);
  ASSERT_GE(held, 0);

  FileRecord archive;
  EXPECT_FALSE(open_binary(name, archive));
  // As a member's file the name gets a new file: the held one keeps its
  // bytes, and no byte of the member reaches it.
  OutputRoot root = output_root_at(dir.path());
  FileRecord out;
  ASSERT_EQ(open_member_file(root, name, -1, out).failure, Failure::none);
  copy_text(out, dir.at("source"), "member");
  EXPECT_TRUE(close_file(out));
  EXPECT_EQ(read_file(name), "member");
  char bytes[32] = {};
  EXPECT_EQ(pread(held, bytes, sizeof bytes, 0), 12);
  EXPECT_EQ(Text(bytes), "archive data");
  close(held);

  // The new file is no longer the locked one.
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(read_block(archive, 512), "member");
}

TEST_F(FileAccessPosixTest, ArchiveIsLockedAgainstWritersOnly) {
  const Text name = dir.at("mine.tar");
  write_file(name, "archive data");
  OutputRoot root = output_root_at(dir.path());
  // The archive is shared with readers, never with a writer's lock. An
  // output file takes no lock: it is always a new file, which no other run
  // writes into (a second run replaces the name instead).
  for (bool output : {false, true}) {
    SCOPED_TRACE(output ? "output" : "archive");
    FileRecord file;
    ASSERT_TRUE(output ? open_member_file(root, name, -1, file).failure == Failure::none
                       : open_binary(name, file));
    EXPECT_EQ(LockingProcess(name).got_lock(), output);
    close_file(file);
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
  const int64_t size = (3 << 20) - 10;
  FileRecord from;
  ASSERT_TRUE(open_binary(dir.at("archive.tar"), from));
  OutputRoot root = output_root_at(dir.path());
  FileRecord out;
  ASSERT_EQ(open_member_file(root, dir.at("member"), -1, out).failure, Failure::none);
  {
    FileSizeLimit limit(1'500'000);
    // Bytes that reach the file are counted even when a piece fits only in
    // part, and the copy says why it stopped writing.
    const Copied copied = copy_bytes(from, out, size);
    EXPECT_EQ(copied.bytes, 1'500'000);
    EXPECT_NE(copied.write_failure, Failure::none);
    EXPECT_EQ(get_position(out), 1'500'001);
    // Bytes that do not fit leave the position where it was.
    EXPECT_EQ(copy_bytes(from, out, 4).bytes, 0);
    EXPECT_EQ(get_position(out), 1'500'001);
  }
  EXPECT_EQ(get_position(from), 1 + size + 4);
  close_file(out);
  EXPECT_TRUE(read_file(dir.at("member")) == archive.substr(0, 1'500'000));
}

TEST_F(FileAccessPosixTest, LongNameIsUsedWhole) {
  // 300 characters in all, under a directory level made for it; each level
  // at most 255.
  const Text level = dir.at(Text(150, 'd'));
  const Text name = level + "/" + Text(300 - level.size() - 1, 'f');
  ASSERT_EQ(name.size(), 300u);

  OutputRoot root = output_root_at(dir.path());
  FileRecord out;
  const Reached reached = open_member_file(root, name, -1, out);
  EXPECT_EQ(reached.failure, Failure::none);
  EXPECT_TRUE(reached.levels_made);
  copy_text(out, dir.at("source"), "long");
  close_file(out);
  EXPECT_EQ(read_file(name), "long");
  EXPECT_FALSE(path_exists(name.substr(0, 255)));
}

TEST_F(FileAccessPosixTest, BackslashIsAnOrdinaryByte) {
  // A backslash is an ordinary byte of a POSIX name.
  const Text name = dir.at("back\\slash");
  OutputRoot root = output_root_at(dir.path());
  FileRecord out;
  ASSERT_EQ(open_member_file(root, name, -1, out).failure, Failure::none);
  copy_text(out, dir.at("source"), "x");
  close_file(out);
  EXPECT_EQ(read_file(name), "x");
}

TEST_F(FileAccessPosixTest, DevicesHaveNoPositionsAndTakeNoOutput) {
  // Not disk files nor pipes: nothing is read, positions read as 0 and
  // moves do nothing.
  FileRecord archive;
  ASSERT_TRUE(open_binary("/dev/zero", archive));
  EXPECT_EQ(read_block(archive, 512), "");
  EXPECT_EQ(get_position(archive), 0);
  EXPECT_EQ(move_forward(archive, 100), 0);
  EXPECT_EQ(get_position(archive), 0);
  // Output goes only into regular files (the output root's tests have the
  // other kinds of entries).
  OutputRoot root = output_root_at("/dev");
  FileRecord out;
  EXPECT_NE(open_member_file(root, "/dev/null", -1, out).failure, Failure::none);
  EXPECT_FALSE(is_open(out));
}

}  // namespace
