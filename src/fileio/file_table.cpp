#include "fileio/file_table.h"

#include <map>

namespace {

// The one file table of the process. A map keeps each record at a stable
// address while other files are opened and closed.
std::map<int32_t, FileRecord>& table() {
  static std::map<int32_t, FileRecord> files;
  return files;
}

}  // namespace

FileRecord* find_file(int32_t number) {
  auto found = table().find(number);
  return found == table().end() ? nullptr : &found->second;
}

void add_file(int32_t number, const FileRecord& record) {
  table()[number] = record;
}

void remove_file(int32_t number) {
  table().erase(number);
}
