#include <gtest/gtest.h>
#include <windows.h>

#include <set>

#include "fileio/directory_service.h"
#include "fileio/test_files.h"

namespace {

class DirectoryServiceWin32Test : public FileServiceTest {
 protected:
  void make_file(const Text& name, DWORD attributes) {
    write_file(dir.at(name), "x");
    ASSERT_TRUE(SetFileAttributesA(dir.at(name).c_str(), attributes));
  }
};

TEST_F(DirectoryServiceWin32Test, HiddenAndSystemEntriesNeedTheirBits) {
  make_file("hidden.tar", FILE_ATTRIBUTE_HIDDEN);
  make_file("system.tar", FILE_ATTRIBUTE_SYSTEM);
  make_file("both.tar", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  make_file("readonly.tar", FILE_ATTRIBUTE_READONLY);
  make_file("archived.tar", FILE_ATTRIBUTE_ARCHIVE);

  struct Probe {
    const char* name;
    int32_t mask;
    const char* expected;
  };
  const Probe probes[] = {
      {"hidden.tar", 0, ""},
      {"hidden.tar", kAttributeDirectory, ""},
      {"hidden.tar", kAttributeHidden, "hidden.tar"},
      {"system.tar", kAttributeHidden | kAttributeDirectory, ""},
      {"system.tar", kAttributeSystem, "system.tar"},
      {"both.tar", kAttributeHidden, ""},
      {"both.tar", kAttributeHidden | kAttributeSystem, "both.tar"},
      {"readonly.tar", 0, "readonly.tar"},
      {"archived.tar", 0, "archived.tar"},
  };
  for (const Probe& probe : probes) {
    SCOPED_TRACE(std::string(probe.name) + " mask " + std::to_string(probe.mask));
    EXPECT_EQ(find_entry(dir.at(probe.name), probe.mask), probe.expected);
  }
  EXPECT_EQ(all_found(dir.at("*.tar"), kAttributeDirectory),
            (std::set<Text>{"readonly.tar", "archived.tar"}));
  EXPECT_EQ(all_found(dir.path() + "\\", kAttributeHidden),
            (std::set<Text>{"hidden.tar", "readonly.tar", "archived.tar"}));

  for (const char* name : {"hidden.tar", "system.tar", "both.tar", "readonly.tar"}) {
    SetFileAttributesA(dir.at(name).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST_F(DirectoryServiceWin32Test, ProbePathLongerThan256CharactersFindsNothing) {
  const Text name = dir.at(Text(256 - dir.path().size() - 1, 'f'));
  ASSERT_EQ(name.size(), 256u);
  write_file(name, "x");
  EXPECT_EQ(find_entry(name, 0), Text(256 - dir.path().size() - 1, 'f'));
  // Cut to 256 characters it would find the file above: it is refused whole.
  EXPECT_EQ(find_entry(name + "-more", 0), "");
}

TEST_F(DirectoryServiceWin32Test, DirectoryPathLongerThan255CharactersIsNotMade) {
  const Text name = dir.at(Text(255 - dir.path().size() - 1, 'd'));
  ASSERT_EQ(name.size(), 255u);
  make_directory(name + "xyz");
  EXPECT_FALSE(path_exists(name));
  make_directory(name);
  EXPECT_TRUE(is_directory(name));
}

TEST_F(DirectoryServiceWin32Test, BareDriveSearchesItsCurrentDirectory) {
  write_file(dir.at("only.tar"), "x");
  char previous[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
  const Text drive = dir.path().substr(0, 2);
  ASSERT_EQ(drive[1], ':');
  EXPECT_EQ(find_entry(drive, 0), "only.tar");
  EXPECT_EQ(find_entry("", 0), "");
  ASSERT_TRUE(SetCurrentDirectoryA(previous));
}

TEST_F(DirectoryServiceWin32Test, FoundNameIsSpelledAsStored) {
  write_file(dir.at("a.tar"), "x");
  EXPECT_EQ(find_entry(dir.path() + "\\", 0), "a.tar");
  EXPECT_EQ(find_entry(dir.at("A.TAR"), 0), "a.tar");
}

}  // namespace
