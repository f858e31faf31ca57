#include "extract/archive_reader.h"

#include <algorithm>
#include <utility>

#include "fileio/archive_source.h"
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

// How far past the end marker the data is looked at: writers pad an archive
// with zeros to their record size (10 KiB by default, far less than this),
// so anything else there, or more than this, is data that does not belong
// to the archive.
constexpr int64_t kLookPastEnd = int64_t{1} << 20;
constexpr int32_t kLookPiece = 64 * 1024;

bool ended(ArchiveReader& reader, ArchiveEnd end, int64_t offset = 0) {
  reader.end = end;
  reader.end_offset = offset;
  return false;
}

bool ended_at_header(ArchiveReader& reader, ArchiveEnd end, const Member& header) {
  reader.end_name = header.name;
  return ended(reader, end);
}

// The offset (from 0) of the archive's next byte.
int64_t offset_of(const ArchiveReader& reader) {
  return get_position(reader.archive) - 1;
}

// Moves to `offset`, passing over what lies before it. False when the data
// ends before it (the archive is cut short there) or the move failed.
bool pass_to(ArchiveReader& reader, int64_t offset) {
  const int64_t reached = move_forward(reader.archive, offset + 1);
  if (reached == 0 || read_failed(reader.archive)) return ended(reader, ArchiveEnd::read_failed);
  if (reached - 1 < offset) return ended(reader, ArchiveEnd::cut_short, reached - 1);
  return true;
}

// Reads the next `n` bytes into `into`; false when they are not all there.
bool read_whole(ArchiveReader& reader, int64_t n, Text& into) {
  into = read_block(reader.archive, static_cast<int32_t>(n));
  if (read_failed(reader.archive)) return ended(reader, ArchiveEnd::read_failed);
  if (static_cast<int64_t>(into.size()) < n) {
    return ended(reader, ArchiveEnd::cut_short, offset_of(reader));
  }
  return true;
}

// Reads (or passes over) the data of an extension header and keeps what it
// says of the next member.
bool read_extension(ArchiveReader& reader, const Member& header) {
  if (header.bad_size) return ended_at_header(reader, ArchiveEnd::bad_size, header);
  reader.next_header = offset_of(reader) + kBlockSize * block_count_of(header.size);
  if (extension_data_used(header)) {
    if (header.size > kMaxExtendedHeaderSize) {
      return ended_at_header(reader, ArchiveEnd::bad_extension, header);
    }
    Text data;
    if (!read_whole(reader, header.size, data)) return false;
    if (!take_extension(header, std::move(data), reader.pending)) {
      return ended_at_header(reader, ArchiveEnd::bad_size, header);
    }
  }
  return pass_to(reader, reader.next_header);
}

// Reads the map of an old GNU sparse member (type "S") from its header block
// and the extension blocks that follow it, before its data. A map that
// cannot be read is bad; extension blocks cut short end the archive.
bool read_header_map(ArchiveReader& reader, const Text& block, Member& member) {
  SparseMap& map = member.sparse;
  map.sparse = true;
  bool bad = false;
  map.real_size = decode_size_field(block.substr(kRealSizeOffset, kRealSizeLength), bad);
  if (bad) map.bad = true;
  add_header_pieces(map, block.substr(kHeaderMapOffset, kHeaderMapLength));
  bool extended = block[kHeaderExtendedOffset] != '\0';
  while (extended) {
    Text extension;
    if (!read_whole(reader, kBlockSize, extension)) return false;
    if (!map.bad) add_header_pieces(map, extension.substr(0, kBlockMapLength));
    extended = extension[kBlockMapLength] != '\0';
  }
  return true;
}

// Looks at what follows the end marker; anything but zeros there is said.
// A compressed archive is then decoded to its end, so that its format's
// checks are made over every member's bytes.
void look_past_end(ArchiveReader& reader) {
  for (int64_t looked = 0; looked <= kLookPastEnd && !reader.data_after_end;) {
    const Text piece = read_block(reader.archive, kLookPiece);
    if (read_failed(reader.archive)) break;
    reader.data_after_end = piece.find_first_not_of('\0') != Text::npos;
    if (piece.size() < static_cast<size_t>(kLookPiece)) break;
    looked += kLookPiece;
    if (looked > kLookPastEnd) reader.data_after_end = true;
  }
  if (!read_failed(reader.archive)) read_to_end(reader.archive);
  if (read_failed(reader.archive)) {
    const ReadFault fault = read_fault(reader.archive);
    reader.end = fault == ReadFault::read_error || fault == ReadFault::stopped
                     ? ArchiveEnd::read_failed
                     : ArchiveEnd::failed_after_end;
  }
}

// A block the data ends inside of, at `offset`: a file too short to hold one
// block is no archive; zeros that end the data early are padding cut short,
// where no member is lost; anything else is a header cut short.
bool short_block(ArchiveReader& reader, const Text& block, int64_t offset) {
  const bool first = offset == 0 && !reader.header_seen;
  if (first) {
    reader.not_tar_format = compression_of(block);
    return ended(reader, ArchiveEnd::not_tar);
  }
  if (block.find_first_not_of('\0') == Text::npos) {
    return ended(reader, ArchiveEnd::data_ended, offset);
  }
  return ended(reader, ArchiveEnd::cut_short, offset + static_cast<int64_t>(block.size()));
}

// Reads the map at the start of a sparse member's data (pax format 1.0), at
// most its `stored` data bytes, into the member's map; the data left holds
// the stored pieces alone. A map that does not end within the data is bad;
// a read that fails or a data cut short ends the archive.
bool read_data_map(ArchiveReader& reader, Member& member, int64_t& stored) {
  SparseMap& map = member.sparse;
  if (map.bad) return true;
  DataMapReader map_reader;
  while (!map_reader.done && stored > 0) {
    Text block;
    if (!read_whole(reader, kBlockSize, block)) return false;
    stored = std::max<int64_t>(0, stored - kBlockSize);
    read_map_block(map_reader, map, block);
  }
  if (!map_reader.done) map.bad = true;
  return true;
}

}  // namespace

void start_reader(ArchiveReader& reader, FileRecord&& archive) {
  reader = ArchiveReader{};
  reader.archive = std::move(archive);
  reader.data.archive = &reader.archive;
}

int64_t take_data(MemberData& data, int64_t n, const char** bytes) {
  if (data.archive == nullptr || data.archive->source == nullptr) return -1;
  const int64_t got = data.archive->source->take(*data.archive, std::min(n, data.left), bytes);
  if (got > 0) data.left -= got;
  return got;
}

Copied copy_data(MemberData& data, FileRecord& to, int64_t count, CopyHook hook) {
  if (data.archive == nullptr) return {};
  const int64_t start = data.archive->position;
  const Copied copied = copy_bytes(*data.archive, to, std::min(count, data.left), hook);
  data.left -= data.archive->position - start;
  return copied;
}

int64_t data_bytes(const Member& member) {
  if (member.sized_by_record) return member.size;
  if (member.type_flag >= '1' && member.type_flag <= '6') return 0;
  return member.size;
}

bool next_member(ArchiveReader& reader, Member& member) {
  reader.data = MemberData{&reader.archive, 0};
  if (reader.end != ArchiveEnd::none) return false;
  // What the member before did not read of its data is passed over.
  if (!pass_to(reader, reader.next_header)) return false;
  for (;;) {
    const int64_t offset = reader.next_header;
    const Text block = read_block(reader.archive, kBlockSize);
    if (read_failed(reader.archive)) return ended(reader, ArchiveEnd::read_failed);
    if (block.size() < static_cast<size_t>(kBlockSize)) return short_block(reader, block, offset);
    reader.next_header = offset + kBlockSize;
    if (is_zero_block(block)) {
      if (reader.zero_before) {
        reader.end = ArchiveEnd::end_marker;
        reader.end_offset = reader.next_header;
        look_past_end(reader);
        return false;
      }
      reader.zero_before = true;
      continue;
    }
    reader.zero_before = false;
    // Nothing is made from a block that is not a header: the walk ends.
    if (!checksum_matches(block)) {
      if (reader.header_seen) return ended(reader, ArchiveEnd::damaged, offset);
      reader.not_tar_format = compression_of(block);
      return ended(reader, ArchiveEnd::not_tar);
    }
    reader.header_seen = true;
    Member header = decode_header(block);
    if (is_extension_header(header)) {
      if (!read_extension(reader, header)) return false;
      continue;
    }
    apply_extensions(header, reader.pending);
    // Nothing after a size that cannot be trusted is taken as a header.
    if (header.bad_size) return ended_at_header(reader, ArchiveEnd::bad_size, header);
    if (header.type_flag == kTypeFlagSparse && !read_header_map(reader, block, header)) {
      return false;
    }
    int64_t stored = data_bytes(header);
    reader.next_header = offset_of(reader) + kBlockSize * block_count_of(stored);
    // A volume label names the archive, not a member.
    if (header.type_flag == kTypeFlagVolume) {
      if (!pass_to(reader, reader.next_header)) return false;
      continue;
    }
    if (header.sparse.map_in_data && !read_data_map(reader, header, stored)) return false;
    member = std::move(header);
    reader.data.left = stored;
    return true;
  }
}
