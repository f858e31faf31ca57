#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <utility>

#include "fileio/directory_service.h"
#include "fileio/test_files.h"

namespace {

class DirectoryServiceWin32Test : public FileServiceTest {
 protected:
  void make_file(const Text& name, DWORD attributes) {
    if (name.ends_with("dir")) {
      ASSERT_TRUE(std::filesystem::create_directory(dir.at(name)));
    } else {
      write_file(dir.at(name), "x");
    }
    ASSERT_TRUE(SetFileAttributesA(dir.at(name).c_str(), attributes));
  }
};

TEST_F(DirectoryServiceWin32Test, HiddenAndSystemEntriesNeedTheirBits) {
  make_file("hidden.tar", FILE_ATTRIBUTE_HIDDEN);
  make_file("system.tar", FILE_ATTRIBUTE_SYSTEM);
  make_file("both.tar", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  make_file("readonly.tar", FILE_ATTRIBUTE_READONLY);
  make_file("archived.tar", FILE_ATTRIBUTE_ARCHIVE);
  // A directory is one whatever else it is marked (AppData, ProgramData).
  make_file("hidden-dir", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

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
      {"hidden-dir", kAttributeDirectory, "hidden-dir"},
      {"hidden-dir", kAttributeHidden | kAttributeSystem, ""},
  };
  for (const Probe& probe : probes) {
    SCOPED_TRACE(std::string(probe.name) + " mask " + std::to_string(probe.mask));
    EXPECT_EQ(find_entry(dir.at(probe.name), probe.mask), probe.expected);
  }
  EXPECT_EQ(all_found(dir.at("*"), kAttributeDirectory),
            (std::set<Text>{"readonly.tar", "archived.tar", "hidden-dir"}));
  EXPECT_EQ(all_found(dir.path() + "\\", kAttributeHidden),
            (std::set<Text>{"hidden.tar", "readonly.tar", "archived.tar"}));

  for (const char* name : {"hidden.tar", "system.tar", "both.tar", "readonly.tar", "hidden-dir"}) {
    SetFileAttributesA(dir.at(name).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

// Past the 256 characters that the narrow calls take, a probe still sees the
// whole path, and the output root makes a directory under its whole name:
// cut, either would act on another path.
TEST_F(DirectoryServiceWin32Test, LongPathsAreProbedAndMadeWhole) {
  OutputRoot root = output_root_at(dir.path());
  Text path = dir.path();
  for (const size_t length : {255u, 256u, 300u, 1000u, 3000u}) {
    SCOPED_TRACE(length);
    while (path.size() + 201 < length) {
      path += "\\" + Text(200, static_cast<char>('a' + path.size() % 26));
    }
    const Text leaf(length - path.size() - 1, static_cast<char>('0' + length % 10));
    const Text name = path + "\\" + leaf;
    ASSERT_EQ(make_directories(root, name).failure, Failure::none);
    EXPECT_EQ(find_entry(name, kAttributeDirectory), leaf);
    EXPECT_EQ(find_entry(name, 0), "");
    EXPECT_EQ(find_entry(name + "-more", kAttributeDirectory), "");
    // Cut to 255 characters, the path names nothing that was made.
    EXPECT_EQ(path_exists(name.substr(0, 255)), length == 255);
  }
}

// A device is no directory entry, also when its name has a directory or an
// extension; a name that only begins like one is. A drive's root named as
// itself is found, as a directory, whatever it holds.
TEST_F(DirectoryServiceWin32Test, DevicesAreNoEntriesRootsAreThemselves) {
  write_file(dir.at("NULyyy.txt"), "x");
  const std::pair<Text, int32_t> probes[] = {{"COM1", 0},        {"NUL", kAttributeDirectory},
                                             {"CON", 0},         {dir.at("nul.txt"), 0},
                                             {"\\\\.\\COM1", 0}, {"Z:\\.", 0}};
  for (const auto& [path, mask] : probes) EXPECT_EQ(find_entry(path, mask), "") << path;
  EXPECT_EQ(find_entry(dir.at("NULyyy.txt"), 0), "NULyyy.txt");
  EXPECT_EQ(find_entry("Z:\\.", kAttributeDirectory), "Z:\\");
  EXPECT_EQ(find_entry(dir.path() + "/", 0), "NULyyy.txt");
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

// A name's bytes are UTF-8 when they can be, else text of the ANSI code page
// (as the narrow calls read them); a found name comes back as UTF-8.
TEST_F(DirectoryServiceWin32Test, NamesAreUtf8ElseTheCodePage) {
  const Text name = "caf\xE9 \xA7.tar";
  const Text utf8 = "caf\xC3\xA9 \xC2\xA7.tar";
  HANDLE file = CreateFileA(dir.at(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(find_entry(dir.at(name), 0), utf8);
  EXPECT_EQ(find_entry(dir.at(utf8), 0), utf8);
  EXPECT_EQ(find_entry(dir.path() + "\\", 0), utf8);
  OutputRoot root = output_root_at(dir.path());
  EXPECT_EQ(make_directories(root, dir.at("d\xE9j\xE0")).failure, Failure::none);
  EXPECT_NE(GetFileAttributesA(dir.at("d\xE9j\xE0").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
