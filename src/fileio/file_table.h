// The table of open files, keyed by file number. The record is the same on
// both platforms; only the handle's meaning differs (a descriptor on POSIX, a
// HANDLE on Windows).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

enum class FileKind { binary, output };

struct ArchiveStream;
struct SourceKind;

// Which file an open handle reaches, whatever name it was opened by: the
// device and inode on POSIX, the volume serial number and file index on
// Windows.
struct FileIdentity {
  bool known = false;
  uint64_t volume = 0;
  uint64_t file_id = 0;
};

// Bytes of a binary disk file read ahead of its position: `filled` bytes
// from offset `start` (-1: nothing held). `at_end` says the read that filled
// it came back short, so the file ends right after them. `next_size` is the
// size of the next fill: small after a jump, growing while reads go on in
// order.
struct ReadAhead {
  std::vector<char> bytes;
  // Where a large piece is read when it is taken, kept from one piece to
  // the next.
  std::vector<char> scratch;
  int64_t start = -1;
  int64_t filled = 0;
  bool at_end = false;
  int64_t next_size = 0;
};

struct FileRecord {
  intptr_t handle = -1;
  bool disk_file = false;  // a regular file, which has positions
  bool pipe = false;       // a pipe, FIFO or socket: read in order, never positioned
  FileKind kind = FileKind::binary;
  // Where a binary file's bytes come from (archive_source.h): the disk file
  // itself or its stream. Positions are meaningful for a binary file with a
  // source and for an output disk file.
  const SourceKind* source = nullptr;
  // Offset of the next byte, counted from 0. Where reads and writes name no
  // offset (Windows), the file's own pointer is here whenever the position
  // lies outside what the read-ahead holds: a fill leaves it at the fill's
  // end, and every other move or transfer keeps the two together.
  int64_t position = 0;
  bool end_flag = false;  // set by a read that came back short
  FileIdentity identity;  // known for disk files
  // Bytes the file holds when known (an output file emptied or made by the
  // open, grown by its writes; a binary disk file's size when last asked),
  // else -1.
  int64_t length = -1;
  bool failed = false;   // set by a failed read or a refused move
  ReadAhead read_ahead;  // binary disk files only
  // The decoded data of a compressed file or a pipe (archive_stream.h); its
  // reads, moves and positions are those of the data, and its handle is the
  // stream's alone while the stream lives.
  std::shared_ptr<ArchiveStream> stream;
  // An output file the open found already there, not one it made; and, on
  // Windows, when the system says that file was made (100 ns units since
  // 1601), read before the open emptied it (0: not known).
  bool existed = false;
  uint64_t made_at = 0;
};

// Highest file number a caller may choose (numbers are 16-bit, from 0).
inline constexpr int32_t kLastFileNumber = 32767;

// The record of an open file, or nullptr when the number is not open.
FileRecord* find_file(int32_t number);
// Enters a record under a number that is not open yet.
void add_file(int32_t number, const FileRecord& record);
// Frees the number.
void remove_file(int32_t number);
// True when a file already open is the file `identity` names.
bool identity_open(const FileIdentity& identity);
