#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "fileio/file_access.h"
#include "fileio/test_files.h"

namespace {

using FileAccessWin32Test = FileServiceTest;

HANDLE open_shared(const Text& name, DWORD access) {
  return CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(FileAccessWin32Test, ArchiveIsSharedWithReadersAndNeverWithAWriter) {
  const Text name = dir.at("shared.tar");
  write_file(name, "archive data");
  OutputRoot root = output_root_at(dir.path());
  // Another reader: the archive opens beside it; no output does.
  HANDLE other = open_shared(name, GENERIC_READ);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(read_block(archive, 512), "archive data");
  close_file(archive);
  FileRecord out;
  EXPECT_EQ(open_member_file(root, name, -1, out).failure, Failure::in_use);
  EXPECT_FALSE(is_open(out));
  CloseHandle(other);
  // A writer, before or after the archive's open: never beside it.
  other = open_shared(name, GENERIC_WRITE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(open_binary(name, archive));
  CloseHandle(other);
  ASSERT_TRUE(open_binary(name, archive));
  SetLastError(0);
  other = open_shared(name, GENERIC_WRITE);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  other = open_shared(name, GENERIC_READ);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
  close_file(archive);
  EXPECT_EQ(read_file(name), "archive data");
}

TEST_F(FileAccessWin32Test, OutputFileIsSharedWithNoOne) {
  const Text name = dir.at("mine.tar");
  OutputRoot root = output_root_at(dir.path());
  FileRecord out;
  ASSERT_EQ(open_member_file(root, name, -1, out).failure, Failure::none);
  SetLastError(0);
  HANDLE other = open_shared(name, GENERIC_READ);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  close_file(out);
  other = open_shared(name, GENERIC_READ);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
}

// Past the 255 characters that the narrow calls take, a name still reaches
// its own file whole: cut, it would name another file, or a device.
TEST_F(FileAccessWin32Test, LongNamesAreUsedWholeNeverCut) {
  OutputRoot root = output_root_at(dir.path());
  for (size_t length : {255u, 256u, 300u, 1000u, 3000u}) {
    // Directories of 200 characters (made by the output root), then the
    // file's own name.
    Text name = dir.path();
    while (length - name.size() > 202) name += "\\" + Text(200, 'd');
    const char fill = static_cast<char>('a' + length % 26);
    name += '\\';
    name.append(length - name.size(), fill);
    ASSERT_EQ(name.size(), length);
    SCOPED_TRACE(length);
    FileRecord out;
    ASSERT_EQ(open_member_file(root, name, -1, out).failure, Failure::none);
    EXPECT_EQ(copy_text(out, dir.at("source"), "whole").bytes, 5);
    close_file(out);
    FileRecord archive;
    ASSERT_TRUE(open_binary(name, archive));
    EXPECT_EQ(read_block(archive, 512), "whole");
    close_file(archive);
    EXPECT_EQ(path_exists(name.substr(0, 255)), length == 255);
  }
}

TEST_F(FileAccessWin32Test, CharacterDeviceHasNoPositionsAndTakesNoOutput) {
  FileRecord archive;
  ASSERT_TRUE(open_binary("NUL", archive));
  EXPECT_EQ(get_position(archive), 0);
  EXPECT_EQ(move_forward(archive, 100), 0);
  EXPECT_EQ(get_position(archive), 0);
  // Output goes only into a disk file: a device's name below the output
  // directory still names the device.
  OutputRoot root = output_root_at(dir.path());
  for (const char* device : {"NUL", "nul.txt", "COM1"}) {
    SCOPED_TRACE(device);
    FileRecord out;
    EXPECT_NE(open_member_file(root, dir.at(device), -1, out).failure, Failure::none);
    EXPECT_FALSE(is_open(out));
  }
}

}  // namespace
