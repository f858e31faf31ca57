// The output root on POSIX: links and FIFOs where levels and files must be,
// a name longer than a level holds, and the umask on what it makes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fileio/output_root.h"
#include "fileio/test_files.h"

namespace {

using OutputRootPosixTest = FileServiceTest;

TEST_F(OutputRootPosixTest, NoLinkIsFollowedAndNoOpenWaits) {
  // The output directory is "out"; the links lead to "outside", next to it.
  const Text out = dir.at("out");
  std::filesystem::create_directory(out);
  std::filesystem::create_directory(dir.at("outside"));
  write_file(dir.at("outside/target"), "kept");
  ASSERT_EQ(symlink(dir.at("outside").c_str(), (out + "/to-dir").c_str()), 0);
  ASSERT_EQ(symlink(dir.at("outside/target").c_str(), (out + "/to-file").c_str()), 0);
  ASSERT_EQ(symlink(dir.at("outside/made").c_str(), (out + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((out + "/fifo").c_str(), 0600), 0);
  // An open that waited for the FIFO's reader would end the test here.
  alarm(60);
  OutputRoot root = output_root_at(out);
  expect_rows(root,
              {
                  {"a link at the last level", out + "/to-dir/member", false,
                   Failure::link_in_the_way, true},
                  {"a link at a level above it", out + "/to-dir/sub/member", true,
                   Failure::link_in_the_way, true},
                  {"a link where the directory must be", out + "/to-dir", false,
                   Failure::link_in_the_way, true, true},
                  // Replaced by the new file, never written through.
                  {"a link at the name", out + "/to-file", false, Failure::none, false},
                  {"a dangling link at the name", out + "/dangling", false, Failure::none, false},
                  {"a FIFO at the name", out + "/fifo", false, Failure::not_a_file, false},
                  {"a FIFO where a directory must be", out + "/fifo/member", false,
                   Failure::file_in_the_way, true},
                  {"a file's name longer than a level holds", out + "/" + Text(300, 'n'), false,
                   Failure::name_too_long, false},
              });
  alarm(0);
  EXPECT_EQ(read_file(dir.at("outside/target")), "kept");
  EXPECT_FALSE(path_exists(dir.at("outside/made")));
  for (const char* name : {"/to-file", "/dangling"}) {
    struct stat status;
    ASSERT_EQ(lstat((out + name).c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode)) << name;
  }
  EXPECT_FALSE(path_exists(dir.at("outside/member")));
  EXPECT_FALSE(path_exists(dir.at("outside/sub")));
}

TEST_F(OutputRootPosixTest, MadeFilesAndDirectoriesFollowTheUmask) {
  OutputRoot root = output_root_at(dir.path());
  const mode_t previous = umask(027);
  FileRecord file;
  const Reached reached = open_member_file(root, dir.at("masked/file"), -1, file);
  const Failure made = make_directories(root, dir.at("made/deeper")).failure;
  umask(previous);
  ASSERT_EQ(reached.failure, Failure::none);
  ASSERT_EQ(made, Failure::none);
  for (const auto& [name, mode] :
       {std::pair{"masked/file", 0640u}, {"masked", 0750u}, {"made/deeper", 0750u}}) {
    SCOPED_TRACE(name);
    struct stat status;
    ASSERT_EQ(stat(dir.at(name).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, mode);
  }
}

}  // namespace
