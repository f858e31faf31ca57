// The processors of the process's affinity mask.
#include <windows.h>

#include <bitset>

#include "fileio/processors.h"

unsigned processor_count() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    return static_cast<unsigned>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
  }
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}
