#include <windows.h>

#include <vector>

#include "fileio/file_table.h"
#include "fileio/stored_case.h"
#include "fileio/system_path_win32.h"
#include "text/wide_text_win32.h"

namespace {

// When this process started, in the units of a file's times.
uint64_t process_start() {
  FILETIME created{};
  FILETIME ended{};
  FILETIME kernel{};
  FILETIME user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return UINT64_MAX;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// What follows the last separator.
std::wstring last_component(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// The name of the open file as its directory holds it, with the case it was
// made in; "" when the system does not say.
std::wstring stored_name(HANDLE handle) {
  std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, info,
                                    static_cast<DWORD>(buffer.size()))) {
    return L"";
  }
  return last_component(std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)));
}

}  // namespace

Text made_in_other_case(int32_t number, const Text& path) {
  const FileRecord* record = find_file(number);
  // A file the open made, or one there before this run, replaced nothing
  // this run wrote.
  if (record == nullptr || !record->existed || record->made_at == 0 ||
      record->made_at < process_start()) {
    return "";
  }
  const std::wstring given = last_component(system_path(path).path);
  const std::wstring stored = stored_name(reinterpret_cast<HANDLE>(record->handle));
  // The same name again is a later version of the member, as an archive may
  // hold; only a name in other case is another member's.
  if (stored.empty() || stored == given ||
      CompareStringOrdinal(stored.data(), static_cast<int>(stored.size()), given.data(),
                           static_cast<int>(given.size()), TRUE) != CSTR_EQUAL) {
    return "";
  }
  const size_t separator = path.find_last_of("\\/");
  const Text directory = separator == Text::npos ? Text() : path.substr(0, separator + 1);
  return directory + utf8_of(stored);
}
