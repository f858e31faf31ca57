// Bytes held in memory as a source: a member's data taken from the archive
// by the walk and written into its file on another thread. The bytes are
// kept in the record's read-ahead, which holds them all from offset 0.
#include <algorithm>
#include <cstring>
#include <utility>

#include "fileio/archive_source.h"
#include "fileio/file_access.h"

namespace {

int64_t held_memory(const FileRecord& record) {
  return std::max<int64_t>(0, record.read_ahead.filled - record.position);
}

int64_t read_memory(FileRecord& record, char* to, int64_t n) {
  const int64_t taken = std::min(n, held_memory(record));
  if (taken > 0) std::memcpy(to, record.read_ahead.bytes.data() + record.position, taken);
  record.position += taken;
  return taken;
}

int64_t take_memory(FileRecord& record, int64_t n, const char** data) {
  const int64_t taken = std::min(n, held_memory(record));
  *data = record.read_ahead.bytes.data() + record.position;
  record.position += taken;
  return taken;
}

int64_t move_memory(FileRecord& record, int64_t offset) {
  record.position = std::min(offset, record.read_ahead.filled);
  return record.position;
}

int64_t copy_memory(FileRecord&, FileRecord&, int64_t) {
  return 0;
}

int64_t memory_file_bytes(const FileRecord& record) {
  return record.position;
}

const SourceKind kMemorySource = {read_memory, take_memory, held_memory,
                                  move_memory, copy_memory, memory_file_bytes};

}  // namespace

void hold_in_memory(FileRecord& file, std::vector<char>&& bytes) {
  close_file(file);
  file.kind = FileKind::binary;
  file.source = &kMemorySource;
  file.position = 0;
  file.read_ahead.filled = static_cast<int64_t>(bytes.size());
  file.read_ahead.start = 0;
  file.read_ahead.bytes = std::move(bytes);
}
