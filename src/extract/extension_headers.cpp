#include "extract/extension_headers.h"

namespace {

void merge_records(PaxRecords& into, PaxRecords&& records) {
  if (records.size.kind == PaxSizeKind::found) into.size = records.size;
  if (records.has_path) {
    into.has_path = true;
    into.path = std::move(records.path);
  }
  if (records.has_link_path) {
    into.has_link_path = true;
    into.link_path = std::move(records.link_path);
  }
  if (records.time.known) into.time = records.time;
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
    case kTypeFlagSolarisPax:
    case kTypeFlagPaxGlobal:
    case kTypeFlagLongName:
    case kTypeFlagLongLink:
      return true;
    default:
      return false;
  }
}

bool extension_data_used(const Member& header) {
  return header.type_flag == kTypeFlagPaxHeader || header.type_flag == kTypeFlagSolarisPax ||
         header.type_flag == kTypeFlagLongName || header.type_flag == kTypeFlagLongLink;
}

bool take_extension(const Member& header, Text&& data, Extensions& pending) {
  if (header.type_flag == kTypeFlagLongName || header.type_flag == kTypeFlagLongLink) {
    // Cut where it ends, in place: a long name may be megabytes.
    const size_t nul = data.find('\0');
    if (nul != Text::npos) data.resize(nul);
    const bool link = header.type_flag == kTypeFlagLongLink;
    (link ? pending.has_long_link : pending.has_long_name) = true;
    (link ? pending.long_link : pending.long_name) = std::move(data);
    return true;
  }
  PaxRecords records = read_pax_records(data);
  if (records.size.kind == PaxSizeKind::bad) return false;
  merge_records(pending.records, std::move(records));
  return true;
}

void apply_extensions(Member& member, Extensions& pending) {
  PaxRecords& records = pending.records;
  if (records.sparse.sparse && records.has_sparse_name) {
    member.name = std::move(records.sparse_name);
  } else if (records.has_path) {
    member.name = std::move(records.path);
  } else if (pending.has_long_name) {
    member.name = std::move(pending.long_name);
  }
  if (records.size.kind == PaxSizeKind::found) {
    // The record counts whatever the member's own size field holds (0 past
    // 8 GiB, or a field that cannot be a size).
    member.size = records.size.size;
    member.bad_size = false;
    member.sized_by_record = true;
  }
  if (records.has_link_path) {
    member.link_name = std::move(records.link_path);
  } else if (pending.has_long_link) {
    member.link_name = std::move(pending.long_link);
  }
  if (records.time.known) member.time = records.time;
  if (records.sparse.sparse) member.sparse = std::move(records.sparse);
  pending = Extensions{};
}
