#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "fileio/file_access.h"
#include "fileio/test_files.h"

namespace {

constexpr int32_t kArchive = 1;
constexpr int32_t kOutput = 2;

using FileAccessWin32Test = FileServiceTest;

HANDLE open_shared(const Text& name, DWORD access) {
  return CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(FileAccessWin32Test, ArchiveIsSharedWithReadersAndNeverWithAWriter) {
  const Text name = dir.at("shared.tar");
  write_file(name, "archive data");
  // Another reader: the archive opens beside it; no output does.
  HANDLE other = open_shared(name, GENERIC_READ);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  open_binary(name, kArchive);
  EXPECT_EQ(read_block(kArchive, 512), "archive data");
  close_file(kArchive);
  open_output(name, kOutput);
  EXPECT_EQ(at_end(kOutput), -1);
  CloseHandle(other);
  // A writer, before or after the archive's open: never beside it.
  other = open_shared(name, GENERIC_WRITE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  open_binary(name, kArchive);
  EXPECT_EQ(at_end(kArchive), -1);
  CloseHandle(other);
  open_binary(name, kArchive);
  SetLastError(0);
  other = open_shared(name, GENERIC_WRITE);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  other = open_shared(name, GENERIC_READ);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
  close_file(kArchive);
  EXPECT_EQ(read_file(name), "archive data");
}

TEST_F(FileAccessWin32Test, OutputFileIsSharedWithNoOne) {
  const Text name = dir.at("mine.tar");
  open_output(name, kOutput);
  SetLastError(0);
  HANDLE other = open_shared(name, GENERIC_READ);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  close_file(kOutput);
  other = open_shared(name, GENERIC_READ);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
}

// Past the 255 characters that the narrow calls take, a name still reaches
// its own file whole: cut, it would name another file, or a device.
TEST_F(FileAccessWin32Test, LongNamesAreUsedWholeNeverCut) {
  for (size_t length : {255u, 256u, 300u, 1000u, 3000u}) {
    // Directories of 200 characters, then the file's own name.
    Text name = dir.path();
    while (length - name.size() > 202) {
      name += "\\" + Text(200, 'd');
      make_directory(name);
    }
    const char fill = static_cast<char>('a' + length % 26);
    name += '\\';
    name.append(length - name.size(), fill);
    ASSERT_EQ(name.size(), length);
    for (bool output : {true, false}) {
      SCOPED_TRACE(std::to_string(length) + (output ? " open_output" : " open_binary"));
      const int32_t number = output ? kOutput : kArchive;
      output ? open_output(name, number) : open_binary(name, number);
      EXPECT_EQ(at_end(number), 0);
      if (output) {
        write_text(number, "whole");
      } else {
        EXPECT_EQ(read_block(number, 512), "whole");
      }
      close_file(number);
      EXPECT_EQ(path_exists(name.substr(0, 255)), length == 255);
    }
  }
}

TEST_F(FileAccessWin32Test, CharacterDeviceHasNoPositionsAndTakesNoOutput) {
  open_binary("NUL", kArchive);
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(get_position(kArchive), 0);
  set_position(kArchive, 100);
  EXPECT_EQ(get_position(kArchive), 0);
  // Output goes only into a disk file.
  open_output("NUL", kOutput);
  EXPECT_EQ(at_end(kOutput), -1);
}

}  // namespace
