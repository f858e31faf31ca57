// Walks the archive named by argv[1] block by block with the header decoding
// alone and prints one line per member: name, size and type separated by
// tabs, ending in a bare LF. A member whose size field cannot be a size is
// printed with "bad" as its size and ends the walk. The archive is read with
// plain iostreams so that only the header decoding is under test.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "extract/header.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

void write_text(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (argc != 2) {
    std::fputs("usage: header_probe archive\n", stderr);
    return 2;
  }
  std::ifstream archive(argv[1], std::ios::binary);
  if (!archive) {
    std::fputs("cannot open the archive\n", stderr);
    return 2;
  }

  char buffer[kBlockSize];
  for (;;) {
    archive.read(buffer, kBlockSize);
    const std::streamsize got = archive.gcount();
    if (got <= 0) break;
    const Text block(buffer, static_cast<size_t>(got));
    if (is_zero_block(block)) continue;

    const Member member = decode_header(block);
    write_text(member.name);
    write_text("\t");
    write_text(member.bad_size ? std::string("bad") : std::to_string(member.size));
    write_text("\t");
    write_text(std::to_string(member.type));
    write_text("\n");
    if (member.bad_size) break;

    if (const int64_t blocks = block_count_of(member.size); blocks > 0) {
      // Past the member's data; a position beyond the end ends the walk at
      // the next read.
      archive.seekg(static_cast<std::streamoff>(blocks * kBlockSize), std::ios::cur);
      if (!archive) break;
    }
  }
  std::fflush(stdout);
  return 0;
}
