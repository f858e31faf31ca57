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

bool identity_open(const FileIdentity& identity) {
  if (!identity.known) return false;
  for (const auto& [number, record] : table()) {
    const FileIdentity& other = record.identity;
    if (other.known && other.volume == identity.volume && other.file_id == identity.file_id) {
      return true;
    }
  }
  return false;
}
