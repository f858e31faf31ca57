// What the output root says of each path below it: the levels it made, and
// where (at a level or at the file) and why it failed. Its own platform's
// entries (links, FIFOs) are in output_root_posix_test.cpp.
#include "fileio/output_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "fileio/file_access.h"
#include "fileio/path_style.h"
#include "fileio/test_files.h"

namespace {

using OutputRootTest = FileServiceTest;

TEST_F(OutputRootTest, SaysWhatItMadeAndWhyItFailed) {
  const Text s = kSeparator;
  write_file(dir.at("file"), "kept");
  std::filesystem::create_directory(dir.at("dir"));
  write_file(dir.at("dir") + s + "inside", "kept");
  write_file(dir.at("linked"), "kept");
  std::filesystem::create_hard_link(dir.at("linked"), dir.at("second name"));
  write_file(dir.at("archive.tar"), "kept");
  FileRecord archive;
  ASSERT_TRUE(open_binary(dir.at("archive.tar"), archive));
  // Past what one level may hold (POSIX), or past the longest path (Windows).
  const Text too_long(kWindowsNames ? 33000 : 300, 'n');
  std::vector<RootRow> rows = {
      {"missing parents made", dir.at("new") + s + "deeper" + s + "member", true, Failure::none,
       false},
      {"parents held from the last file", dir.at("new") + s + "deeper" + s + "second", false,
       Failure::none, false},
      {"a file at the last level", dir.at("file") + s + "member", false, Failure::file_in_the_way,
       true},
      {"a file at a level above it", dir.at("file") + s + "deeper" + s + "member", true,
       Failure::file_in_the_way, true},
      {"a directory at the name", dir.at("dir"), false, Failure::directory_there, false},
      {"a name ending in the separator", dir.at("dir") + s, false, Failure::directory_name, false},
      {"a name too long", dir.at(too_long) + s + "member", true, Failure::name_too_long, true},
      // Replaced: its other name keeps the old file.
      {"a file with a second hard link", dir.at("linked"), false, Failure::none, false},
      {"the archive, open", dir.at("archive.tar"), false, Failure::the_archive, false},
      // Directories alone: an existing one is kept as it is.
      {"directories made", dir.at("a") + s + "b", true, Failure::none, false, true},
      {"a directory already there", dir.at("dir"), false, Failure::none, false, true},
      {"a file where the directory must be", dir.at("file"), false, Failure::file_in_the_way, true,
       true},
  };
  // Windows' wildcards; on POSIX they are bytes of a name like any other.
  if (holds_wildcards("*")) {
    rows.push_back({"wildcards", dir.at("wild*"), true, Failure::invalid_name, true, true});
  } else {
    rows.push_back({"wildcards", dir.at("wild*"), true, Failure::none, false, true});
  }
  OutputRoot root = output_root_at(dir.path(), archive.identity);
  expect_rows(root, rows);
  for (const char* name : {"file", "second name", "archive.tar"})
    EXPECT_EQ(read_file(dir.at(name)), "kept");
  EXPECT_EQ(read_file(dir.at("linked")), "");
  EXPECT_EQ(read_file(dir.at("dir") + s + "inside"), "kept");
  EXPECT_TRUE(is_directory(dir.at("a") + s + "b"));
  EXPECT_EQ(path_exists(dir.at("wild*")), !holds_wildcards("*"));
}

// Whether a plain file can be made in `directory` (by this user).
bool takes_new_files(const Text& directory) {
  const Text probe = directory + kSeparator + "probe";
  if (!std::ofstream(probe)) return false;
  std::filesystem::remove(probe);
  return true;
}

TEST_F(OutputRootTest, ReadOnlyDirectoryRefusesAPlainUser) {
  const Text locked = dir.at("locked");
  std::filesystem::create_directory(locked);
  using std::filesystem::perms;
  std::filesystem::permissions(locked, perms::owner_read | perms::owner_exec | perms::group_read |
                                           perms::group_exec | perms::others_read |
                                           perms::others_exec);
  AsPlainUser plain_user;
  if (takes_new_files(locked)) GTEST_SKIP() << "read-only directories do not bind this user";
  OutputRoot root = output_root_at(dir.path());
  const Text s = kSeparator;
  expect_rows(root, {
                        {"a file in it", locked + s + "member", false, Failure::permission, false},
                        {"a level in it", locked + s + "sub" + s + "member", true,
                         Failure::permission, true},
                    });
}

}  // namespace
