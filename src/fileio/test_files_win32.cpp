#include <windows.h>
#include <winioctl.h>

#include <stdexcept>

#include "fileio/test_files.h"

// Windows tests run as the user they are given; the read-only attribute
// binds every user there.
AsPlainUser::AsPlainUser() {}
AsPlainUser::~AsPlainUser() {}

void make_sparse_file(const Text& path, int64_t size, int64_t offset, const Text& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
  DWORD returned = 0;
  // Not every file system can hold sparse files; the file is then only slower to make.
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER distance;
  distance.QuadPart = size;
  bool ok = SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  distance.QuadPart = offset;
  DWORD written = 0;
  ok = ok && SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) &&
       WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
       written == bytes.size();
  ok = CloseHandle(file) && ok;
  if (!ok) throw std::runtime_error("cannot make sparse file " + path);
}

bool read_only_files_bind(const TempDir& dir) {
  const Text probe = dir.at("read-only probe");
  write_file(probe, "");
  make_read_only(probe);
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool binds = file == INVALID_HANDLE_VALUE;
  if (!binds) CloseHandle(file);
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(probe.c_str());
  return binds;
}
