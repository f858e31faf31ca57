#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "fileio/directory_service.h"
#include "fileio/test_files.h"

namespace {

using DirectoryServicePosixTest = FileServiceTest;

TEST_F(DirectoryServicePosixTest, EntriesThatAreNotFilesOrDirectoriesAreSystemEntries) {
  ASSERT_EQ(mkfifo(dir.at("pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("nowhere", dir.at("dangling").c_str()), 0);
  write_file(dir.at("plain"), "x");

  for (const char* name : {"pipe", "dangling"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(find_entry(dir.at(name), 0), "");
    EXPECT_EQ(find_entry(dir.at(name), kAttributeDirectory), "");
    EXPECT_EQ(find_entry(dir.at(name), kAttributeHidden | kAttributeDirectory), "");
    // Only a mask that admits system entries finds them.
    EXPECT_EQ(find_entry(dir.at(name), kAttributeSystem), name);
  }
  EXPECT_EQ(all_found(dir.path() + "/", kAttributeDirectory), std::set<Text>{"plain"});
  EXPECT_EQ(all_found(dir.path() + "/", 0), std::set<Text>{"plain"});
}

TEST_F(DirectoryServicePosixTest, DotNamesAreOrdinaryEntries) {
  write_file(dir.at(".profile"), "x");
  ASSERT_EQ(mkdir(dir.at(".cache").c_str(), 0777), 0);

  EXPECT_EQ(find_entry(dir.at(".profile"), 0), ".profile");
  EXPECT_EQ(find_entry(dir.at(".cache"), kAttributeDirectory), ".cache");
  EXPECT_EQ(all_found(dir.path() + "/", kAttributeDirectory),
            (std::set<Text>{".profile", ".cache"}));
  EXPECT_EQ(all_found(dir.path() + "/", 0), std::set<Text>{".profile"});
}

TEST_F(DirectoryServicePosixTest, DotAndDotDotAtTheEndNameTheDirectoryTheyLeadTo) {
  ASSERT_EQ(mkdir(dir.at("sub").c_str(), 0777), 0);
  const Text own_name = dir.path().substr(dir.path().rfind('/') + 1);
  EXPECT_EQ(find_entry(dir.at("sub/."), kAttributeDirectory), "sub");
  EXPECT_EQ(find_entry(dir.at("sub/.."), kAttributeDirectory), own_name);
  EXPECT_EQ(find_entry(dir.at("."), kAttributeDirectory), own_name);
  EXPECT_EQ(find_entry("/.", kAttributeDirectory), "/");
  // Still a directory: a probe for plain files does not take it.
  EXPECT_EQ(find_entry(dir.at("sub/."), 0), "");
  EXPECT_EQ(find_entry(dir.at("missing/."), kAttributeDirectory), "");
}

TEST_F(DirectoryServicePosixTest, SymbolicLinksAreFollowed) {
  ASSERT_EQ(mkdir(dir.at("real").c_str(), 0777), 0);
  write_file(dir.at("real/file"), "x");
  ASSERT_EQ(symlink("real", dir.at("linked").c_str()), 0);
  ASSERT_EQ(symlink("real/file", dir.at("file-link").c_str()), 0);

  EXPECT_EQ(find_entry(dir.at("linked"), 0), "");
  EXPECT_EQ(find_entry(dir.at("linked"), kAttributeDirectory), "linked");
  EXPECT_EQ(find_entry(dir.at("file-link"), 0), "file-link");
  EXPECT_EQ(find_entry(dir.at("linked/"), 0), "file");
  EXPECT_EQ(all_found(dir.path() + "/", 0), std::set<Text>{"file-link"});
}

TEST_F(DirectoryServicePosixTest, RelativePathsAndNamesWithBackslashes) {
  write_file(dir.at("back\\slash"), "x");
  EXPECT_EQ(find_entry(dir.at("back\\slash"), 0), "back\\slash");

  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_EQ(find_entry("back\\slash", 0), "back\\slash");
  // "*" is a byte of a name, never a pattern.
  EXPECT_EQ(find_entry("back*", 0), "");
  ASSERT_EQ(chdir(previous), 0);
}

TEST_F(DirectoryServicePosixTest, LongPathsAreNotCut) {
  const Text level = dir.at(Text(200, 'd'));
  ASSERT_EQ(mkdir(level.c_str(), 0777), 0);
  const Text name = level + "/" + Text(200, 'f');
  write_file(name, "x");
  ASSERT_GT(name.size(), 300u);
  EXPECT_EQ(find_entry(name, 0), Text(200, 'f'));

  // Made by the output root under its whole name too.
  const Text deeper = name + "-dir";
  OutputRoot root = output_root_at(dir.path());
  EXPECT_EQ(make_directories(root, deeper).failure, Failure::none);
  EXPECT_TRUE(is_directory(deeper));
  EXPECT_EQ(find_entry(deeper, kAttributeDirectory), Text(200, 'f') + "-dir");
}

}  // namespace
