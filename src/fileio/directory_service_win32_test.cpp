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

// Past the 256 characters that the narrow calls take, a probe still sees the
// whole path, and a directory is made under its whole name: cut, either
// would act on another path.
TEST_F(DirectoryServiceWin32Test, LongPathsAreProbedAndMadeWhole) {
  Text path = dir.path();
  for (const size_t length : {255u, 256u, 300u, 1000u, 3000u}) {
    SCOPED_TRACE(length);
    while (path.size() + 201 < length) {
      path += "\\" + Text(200, static_cast<char>('a' + path.size() % 26));
      make_directory(path);
      EXPECT_EQ(long_path_attributes(path), FILE_ATTRIBUTE_DIRECTORY);
    }
    const Text leaf(length - path.size() - 1, static_cast<char>('0' + length % 10));
    const Text name = path + "\\" + leaf;
    make_directory(name);
    EXPECT_EQ(long_path_attributes(name), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(find_entry(name, kAttributeDirectory), leaf);
    EXPECT_EQ(find_entry(name, 0), "");
    EXPECT_EQ(find_entry(name + "\\", kAttributeDirectory), "");
    EXPECT_EQ(find_entry(name + "-more", kAttributeDirectory), "");
    // Cut to 255 characters, the path names nothing that was made.
    if (length > 255) {
      EXPECT_EQ(long_path_attributes(name.substr(0, 255)), -1);
    }
  }
}

// A device is no directory entry, also when a name merely looks like one;
// a name that only begins like a device is an ordinary entry.
TEST_F(DirectoryServiceWin32Test, DevicesAreNoEntries) {
  write_file(dir.at("NULyyy.txt"), "x");
  for (const char* device : {"COM1", "NUL", "CON", "nul.txt", "\\\\.\\COM1", "CONIN$"}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(find_entry(device, 0), "");
    EXPECT_EQ(find_entry(device, kAttributeDirectory), "");
  }
  EXPECT_EQ(find_entry(dir.at("NULyyy.txt"), 0), "NULyyy.txt");
}

// Trailing dots and spaces of each component go, as from a narrow path; "/"
// is a separator; a drive's root ("Z:\.") is found as itself.
TEST_F(DirectoryServiceWin32Test, PathsAreNormalisedAsNarrowPathsAre) {
  make_directory(dir.at("made. . "));
  EXPECT_EQ(long_path_attributes(dir.at("made")), FILE_ATTRIBUTE_DIRECTORY);
  write_file(dir.at("made\\in.txt"), "x");
  struct Probe {
    Text path;
    int32_t mask;
    Text expected;
  };
  const Probe probes[] = {
      {dir.at("made. "), kAttributeDirectory, "made"},
      {dir.at("made.\\in.txt. "), 0, "in.txt"},
      {dir.path() + "/made//in.txt", 0, "in.txt"},
      {dir.path() + "/made/", 0, "in.txt"},
      {dir.at("made\\.\\..\\made\\in.txt"), 0, "in.txt"},
      {"Z:\\.", kAttributeDirectory, "Z:\\"},
      {"Z:\\.", 0, ""},
  };
  for (const Probe& probe : probes) {
    SCOPED_TRACE(probe.path);
    EXPECT_EQ(find_entry(probe.path, probe.mask), probe.expected);
  }
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

// The program's bytes name the same file as they do for the narrow calls,
// which read them in the ANSI code page: a name made by CreateFileA is found
// under its own bytes.
TEST_F(DirectoryServiceWin32Test, BytesNameWhatTheNarrowCallsName) {
  const Text name = "caf\xE9 \xA7.tar";
  HANDLE file = CreateFileA(dir.at(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(find_entry(dir.at(name), 0), name);
  EXPECT_EQ(find_entry(dir.path() + "\\", 0), name);
  make_directory(dir.at("d\xE9j\xE0"));
  EXPECT_NE(GetFileAttributesA(dir.at("d\xE9j\xE0").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
