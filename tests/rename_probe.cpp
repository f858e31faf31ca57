// Renames a file or directory as another program would, and says whether the
// system let it. Usage:
//
//   rename_probe FROM TO
//
// Writes "renamed", or "refused N" with the system's error code (on Windows
// 32 is a sharing violation: someone holds FROM open without delete sharing).
#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
  if (argc != 3) return 2;
#ifdef _WIN32
  const bool renamed = MoveFileExA(argv[1], argv[2], 0) != 0;
  const unsigned long error = renamed ? 0 : GetLastError();
#else
  const bool renamed = std::rename(argv[1], argv[2]) == 0;
  const unsigned long error = renamed ? 0 : static_cast<unsigned long>(errno);
#endif
  if (renamed) {
    std::printf("renamed");
  } else {
    std::printf("refused %lu", error);
  }
  return 0;
}
