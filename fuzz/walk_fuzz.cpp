// Fuzz target: the whole walk over a hostile archive, run by the program's
// own code (run_extraction with the real file services and no console).
//
// Input: the first byte chooses the option (0: none, 1: startat=, 2: only=,
// by its low six bits modulo 3); with an option the next byte is the
// prefix's length (modulo 32) and the prefix follows. The rest is the
// archive. Unless the first byte's high bit is set, every block of the
// archive that is not all zeros gets a matching checksum first: the walk
// takes no other block as a header, and few mutated blocks would match by
// chance. When its bit 6 is set, the archive is written gzip compressed, so
// that the walk reads it through the decompressing stream.
//
// Each run extracts into a fresh output directory that holds a symbolic link
// to a directory outside it, a symbolic link to a file outside it, and a
// file with a second hard link outside it. Afterwards the target checks that
// nothing outside the output directory changed, that every entry the run made
// is a plain file, a directory or a link that stays inside, and that the
// archive was closed and no other file (an output file) was left open; then
// it removes the directory.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "console/console.h"
#include "extract/extraction_loop.h"
#include "extract/header.h"
#include "fileio/file_access.h"
#include "fileio/output_root.h"

namespace fs = std::filesystem;

namespace {

// The scene, made once: <base>/archive.tar, <base>/outside/ (a directory the
// links lead to), and <base>/level/out/ (the output directory, two levels
// down, so that a name climbing out of it still lands inside <base>).
struct Scene {
  fs::path base;
  fs::path archive;
  fs::path outside;
  fs::path out;
  std::string before;  // everything outside the output directory
  std::string files;   // the regular files open before any run
};

Scene scene;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Every entry below `root` (links not followed) with its kind, and the bytes
// of each file but the archive (checked on its own); the output directory
// itself is left out.
std::string listing(const fs::path& root) {
  std::string text;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    if (path == scene.out) {
      it.disable_recursion_pending();
      continue;
    }
    const fs::file_status status = it->symlink_status();
    text += path.string();
    if (fs::is_symlink(status)) {
      text += " -> " + fs::read_symlink(path).string();
    } else if (fs::is_regular_file(status)) {
      if (path != scene.archive) text += " = " + file_bytes(path);
    } else if (!fs::is_directory(status)) {
      text += " (other)";
    }
    text += '\n';
  }
  return text;
}

// The regular files open, by descriptor and name, past the standard streams
// (which the fuzzer itself may redirect). Directories are left out: the
// directory service may keep one search open between probes, which is its
// state, not a leak; so are the sanitizers' pipes.
std::string open_files() {
  std::string files;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return "?";
  while (const dirent* entry = readdir(dir)) {
    struct stat status;
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    if (std::atoi(entry->d_name) > 2 && stat(path.c_str(), &status) == 0 &&
        S_ISREG(status.st_mode)) {
      std::error_code error;
      files += std::string(entry->d_name) + " " + fs::read_symlink(path, error).string() + "\n";
    }
  }
  closedir(dir);
  return files;
}

void make_output_directory() {
  fs::create_directory(scene.out);
  fs::create_directory_symlink(scene.outside, scene.out / "link");
  fs::create_symlink(scene.outside / "target.txt", scene.out / "filelink");
  fs::create_hard_link(scene.outside / "shared.txt", scene.out / "hard");
}

// Every entry the run made is a plain file, a directory or a symbolic link
// that leads nowhere outside the output directory; the prepared links that
// lead outside are still what they were, or replaced by what the archive
// put at their names.
void check_output_directory() {
  const fs::path inside = fs::canonical(scene.out);
  for (auto it = fs::recursive_directory_iterator(scene.out);
       it != fs::recursive_directory_iterator(); ++it) {
    const fs::path& path = it->path();
    const fs::file_status status = it->symlink_status();
    if (fs::is_symlink(status)) {
      const fs::path target = fs::read_symlink(path);
      if ((path == scene.out / "link" && target == scene.outside) ||
          (path == scene.out / "filelink" && target == scene.outside / "target.txt")) {
        continue;
      }
      // Where the link leads, every link on the way followed.
      std::error_code error;
      const fs::path leads = fs::weakly_canonical(path, error);
      const auto [end, at] =
          std::mismatch(inside.begin(), inside.end(), leads.begin(), leads.end());
      check(!error && end == inside.end(), "no link made leads outside");
      continue;
    }
    check(fs::is_regular_file(status) || fs::is_directory(status),
          "only plain files, directories and links made");
  }
}

// Gives every whole block that is not all zeros the checksum its bytes add
// up to, as a writer would.
void write_checksums(std::string& archive) {
  for (size_t at = 0; at + kBlockSize <= archive.size(); at += kBlockSize) {
    if (archive.find_first_not_of('\0', at) >= at + kBlockSize) continue;
    archive.replace(at + kChecksumOffset, kChecksumLength, kChecksumLength, ' ');
    unsigned sum = 0;
    for (size_t i = at; i < at + kBlockSize; ++i) sum += static_cast<unsigned char>(archive[i]);
    char field[kChecksumLength + 1];
    std::snprintf(field, sizeof field, "%06o", sum);
    archive.replace(at + kChecksumOffset, 7, field, 7);
  }
}

// The bytes as one gzip member.
std::string gzip_compressed(const std::string& bytes) {
  z_stream stream{};
  check(deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK,
        "deflate ready");
  std::string out(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  check(deflate(&stream, Z_FINISH) == Z_STREAM_END, "deflated whole");
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "holvex-walk-fuzz-XXXXXX").string();
  const char* made = mkdtemp(pattern.data());
  check(made != nullptr, "temporary directory made");
  scene.base = made;
  scene.archive = scene.base / "archive.tar";
  scene.outside = scene.base / "outside";
  scene.out = scene.base / "level" / "out";
  fs::create_directories(scene.outside / "sub");
  fs::create_directory(scene.base / "level");
  write_file(scene.outside / "target.txt", "target of the file link\n");
  write_file(scene.outside / "shared.txt", "file with a second hard link\n");
  write_file(scene.archive, "");
  scene.before = listing(scene.base);

  // No console is started: with no console keyboard, key polls find nothing
  // and a key wait returns at once, so a run never waits for a key.
  check(key_waiting() == 0, "no key waiting without a console");
  check(wait_key().empty(), "a key wait returns at once without a console");
  scene.files = open_files();
  std::atexit([] { fs::remove_all(scene.base); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  int mode = 0;
  Text prefix;
  bool fix_checksums = true;
  bool compressed = false;
  if (at < input.size()) {
    const unsigned char first = static_cast<unsigned char>(input[at++]);
    mode = (first & 0x3F) % 3;
    fix_checksums = (first & 0x80) == 0;
    compressed = (first & 0x40) != 0;
  }
  if (mode != 0 && at < input.size()) {
    const size_t length = static_cast<unsigned char>(input[at++]) % 32;
    prefix = input.substr(at, length);
    at += prefix.size();
  }
  std::string archive = input.substr(at);
  if (fix_checksums) write_checksums(archive);
  if (compressed) archive = gzip_compressed(archive);

  write_file(scene.archive, archive);
  make_output_directory();

  Text start_at = mode == 1 ? prefix : Text();
  const Text only = mode == 2 ? prefix : Text();
  {
    // As the run does once its paths are checked: the reader owns the
    // archive, and nothing below the output directory is made but through
    // its root, which follows no link.
    FileRecord archive_file;
    check(open_binary(scene.archive.string(), archive_file), "archive opened");
    OutputRoot root;
    check(open_output_root(scene.out.string() + "/", archive_file.identity, root),
          "output root opened");
    ArchiveReader reader;
    start_reader(reader, std::move(archive_file));
    run_extraction(reader, root, start_at, only);
    check(!is_open(reader.archive), "archive closed");
  }
  const std::string files = open_files();
  if (files != scene.files) {
    std::fprintf(stderr, "open before:\n%sopen after:\n%s", scene.files.c_str(), files.c_str());
  }
  check(files == scene.files, "no file left open");
  check(file_bytes(scene.archive) == archive, "archive unchanged");
  check_output_directory();
  fs::remove_all(scene.out);
  const std::string after = listing(scene.base);
  if (after != scene.before)
    std::fprintf(stderr, "before:\n%safter:\n%s", scene.before.c_str(), after.c_str());
  check(after == scene.before, "nothing outside the output directory changed");
  return 0;
}
