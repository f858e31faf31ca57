#include "extract/extension_headers.h"

#include "extract/extraction_loop.h"
#include "extract/member_output.h"
#include "fileio/file_access.h"

namespace {

// The old GNU sparse header: four map entries at offset 386, a flag saying
// that extension blocks follow, and the file's real size. Each extension
// block holds 21 entries and the same flag after them.
constexpr int32_t kHeaderMapOffset = 386;
constexpr int32_t kHeaderMapLength = 4 * 24;
constexpr int32_t kHeaderExtendedOffset = 482;
constexpr int32_t kRealSizeOffset = 483;
constexpr int32_t kRealSizeLength = 12;
constexpr int32_t kBlockMapLength = 21 * 24;

// The member's data blocks, read whole; the first `size` bytes are the data.
Text read_data(const Member& header) {
  const Text data = read_block(kArchiveFile, static_cast<int32_t>(header.block_count * kBlockSize));
  return data.substr(0, static_cast<size_t>(header.size));
}

void merge_records(PaxRecords& into, PaxRecords&& records) {
  if (records.size.kind == PaxSizeKind::found) into.size = records.size;
  if (records.has_path) {
    into.has_path = true;
    into.path = std::move(records.path);
  }
  if (records.has_sparse_name) {
    into.has_sparse_name = true;
    into.sparse_name = std::move(records.sparse_name);
  }
  if (records.sparse.sparse) into.sparse = std::move(records.sparse);
}

}  // namespace

bool is_extension_header(const Member& header) {
  switch (header.type_flag) {
    case kTypeFlagPaxHeader:
    case kTypeFlagPaxGlobal:
    case kTypeFlagLongName:
    case kTypeFlagLongLink:
      return true;
    default:
      return false;
  }
}

ExtensionRead read_extension(const Member& header, Extensions& pending) {
  if (header.type_flag != kTypeFlagPaxHeader && header.type_flag != kTypeFlagLongName) {
    pass_blocks(header.block_count);
    return ExtensionRead::taken;
  }
  if (header.size > kMaxExtendedHeaderSize) return ExtensionRead::too_large;
  const Text data = read_data(header);
  // Cut short by the end of the archive: the walk ends there.
  if (static_cast<int64_t>(data.size()) < header.size) return ExtensionRead::taken;
  if (header.type_flag == kTypeFlagLongName) {
    pending.has_long_name = true;
    pending.long_name = data.substr(0, data.find('\0'));
    return ExtensionRead::taken;
  }
  PaxRecords records = read_pax_records(data);
  if (records.size.kind == PaxSizeKind::bad) return ExtensionRead::bad_size;
  merge_records(pending.records, std::move(records));
  return ExtensionRead::taken;
}

void apply_extensions(Member& member, Extensions& pending) {
  PaxRecords& records = pending.records;
  if (records.sparse.sparse && records.has_sparse_name) {
    member.name = trimmed_name(records.sparse_name);
  } else if (records.has_path) {
    member.name = trimmed_name(records.path);
  } else if (pending.has_long_name) {
    member.name = trimmed_name(pending.long_name);
  }
  if (records.size.kind == PaxSizeKind::found) {
    // The record counts whatever the member's own size field holds (0 past
    // 8 GiB, or a field that cannot be a size).
    member.size = records.size.size;
    member.block_count = block_count_of(member.size);
    member.bad_size = false;
    member.sized_by_record = true;
  }
  if (records.sparse.sparse) member.sparse = std::move(records.sparse);
  pending = Extensions{};
}

void read_header_map(const Text& block, Member& member) {
  SparseMap& map = member.sparse;
  map.sparse = true;
  bool bad = false;
  map.real_size = decode_size_field(block.substr(kRealSizeOffset, kRealSizeLength), bad);
  if (bad) map.bad = true;
  add_header_pieces(map, block.substr(kHeaderMapOffset, kHeaderMapLength));
  bool extended = block[kHeaderExtendedOffset] != '\0';
  // The extension blocks are read to the last one even when the map is bad,
  // so that the walk goes on at the member's data.
  while (extended) {
    const Text extension = read_block(kArchiveFile, kBlockSize);
    if (extension.size() < static_cast<size_t>(kBlockSize)) {
      map.bad = true;
      return;
    }
    if (!map.bad) add_header_pieces(map, extension.substr(0, kBlockMapLength));
    extended = extension[kBlockMapLength] != '\0';
  }
}
