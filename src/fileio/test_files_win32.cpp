#include <windows.h>
#include <winioctl.h>

#include <stdexcept>
#include <string>

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

// The pipe's server end, made with the test: a reader's open connects to
// it at once, and the server's first write waits for that connection.
TestPipe::TestPipe(const TempDir&) {
  static int made = 0;
  name_ = "\\\\.\\pipe\\holvex-test-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(++made);
  const HANDLE server = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_OUTBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (server == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot make " + name_);
  writer_ = reinterpret_cast<intptr_t>(server);
}

TestPipe::~TestPipe() {
  close_writer();
}

void TestPipe::open_writer() {
  const HANDLE server = reinterpret_cast<HANDLE>(writer_);
  if (!ConnectNamedPipe(server, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    throw std::runtime_error("no reader connected to " + name_);
  }
}

void TestPipe::write(const Text& bytes) {
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(writer_), bytes.data(), static_cast<DWORD>(bytes.size()),
                 &written, nullptr) ||
      written != bytes.size()) {
    throw std::runtime_error("cannot write to " + name_);
  }
}

void TestPipe::close_writer() {
  if (writer_ != -1) CloseHandle(reinterpret_cast<HANDLE>(writer_));
  writer_ = -1;
}
