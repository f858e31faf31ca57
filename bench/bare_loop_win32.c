/* The floor of making small files on Windows: one thread, for each file
 * CreateFileW(CREATE_NEW), WriteFile and CloseHandle, nothing else. The
 * benchmark times Holvex's Windows build against it under Wine.
 *
 *   bare_loop.exe DIRECTORY COUNT SIZE
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const int count = _wtoi(argv[2]);
  const DWORD size = (DWORD)_wtoi(argv[3]);
  char* data = malloc(size > 0 ? size : 1);
  memset(data, 'x', size);
  wchar_t path[32768];
  for (int i = 0; i < count; ++i) {
    swprintf(path, 32768, L"%ls\\f%05d.bin", argv[1], i);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, data, size, &written, NULL);
    CloseHandle(file);
  }
  free(data);
  return 0;
}
