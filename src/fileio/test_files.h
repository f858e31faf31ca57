// Helpers for the file-service tests: a fresh temporary directory per test,
// whole-file reads and writes that do not go through the services under
// test, and the few platform steps the tests need (test_files_posix.cpp,
// test_files_win32.cpp).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "fileio/directory_service.h"
#include "fileio/file_access.h"
#include "fileio/output_root.h"
#include "fileio/path_style.h"
#include "text/text.h"

// Every entry a probe finds: the first, then each continuation. A search
// that repeats an entry, or runs past 100, stops there.
inline std::set<Text> all_found(const Text& path, int32_t mask) {
  std::set<Text> found;
  for (Text name = find_entry(path, mask); !name.empty(); name = find_entry("", mask)) {
    if (!found.insert(name).second || found.size() > 100) {
      ADD_FAILURE() << "the search repeats " << name;
      break;
    }
  }
  return found;
}

// A new directory under the system's temporary directory, removed with all
// it holds when the test ends. Anyone may work in it, so that a test can act
// as an ordinary user (AsPlainUser).
class TempDir {
 public:
  TempDir() {
    const auto base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto candidate = base / ("holvex-fileio-" + std::to_string(random() % 100000000u));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) {
        root_ = candidate;
        std::filesystem::permissions(root_, std::filesystem::perms::all, error);
        return;
      }
    }
    throw std::runtime_error("no temporary directory");
  }
  ~TempDir() {
    std::error_code error;
    // Read-only files cannot be removed on Windows until they are writable.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      std::error_code ignored;
      if (!it->is_symlink(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
      }
    }
    std::filesystem::remove_all(root_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's path, without a trailing separator.
  Text path() const { return root_.string(); }
  // The path of `name` inside the directory.
  Text at(const Text& name) const { return path() + kSeparator + name; }

 private:
  std::filesystem::path root_;
};

// A test of the file services in a fresh directory of its own. Before the
// directory goes, no search is left open in it. (Files close with their
// records, which a test holds in its own scope.)
class FileServiceTest : public ::testing::Test {
 protected:
  void TearDown() override { find_entry(dir.at("no such entry"), 0); }
  TempDir dir;
};

inline void write_file(const Text& path, const Text& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline Text read_file(const Text& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Text(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `directory` (no final separator) as the output directory of a run over
// the archive `archive`.
inline OutputRoot output_root_at(const Text& directory, const FileIdentity& archive = {}) {
  OutputRoot root;
  if (!open_output_root(directory + kSeparator, archive, root)) {
    throw std::runtime_error("no output root at " + directory);
  }
  return root;
}

// Writes `bytes` into output file `out` at its position as a member's data
// reaches it: copied from an archive that holds them, the file `source`.
inline Copied copy_text(FileRecord& out, const Text& source, const Text& bytes) {
  write_file(source, bytes);
  FileRecord archive;
  if (!open_binary(source, archive)) throw std::runtime_error("cannot open " + source);
  return copy_bytes(archive, out, static_cast<int64_t>(bytes.size()));
}

// One call on an output root and what it must answer: the directory `path`
// made (make_directories) or, unless `directory`, a member's file opened
// there (open_member_file), which is open exactly when nothing failed.
struct RootRow {
  const char* what;
  Text path;
  bool levels_made;
  Failure failure;
  bool at_level;
  bool directory = false;
};

inline void expect_rows(OutputRoot& root, const std::vector<RootRow>& rows) {
  for (const RootRow& row : rows) {
    SCOPED_TRACE(row.what);
    FileRecord file;
    const Reached reached = row.directory ? make_directories(root, row.path)
                                          : open_member_file(root, row.path, -1, file);
    EXPECT_EQ(reached.levels_made, row.levels_made);
    EXPECT_EQ(reached.failure, row.failure) << failure_reason(reached.failure);
    EXPECT_EQ(reached.at_level, row.at_level);
    EXPECT_EQ(is_open(file), !row.directory && row.failure == Failure::none);
  }
}

inline bool path_exists(const Text& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

inline bool is_directory(const Text& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

inline void make_read_only(const Text& path) {
  using std::filesystem::perms;
  std::filesystem::permissions(path, perms::owner_read | perms::group_read | perms::others_read);
}

// `n` bytes of a repeating pattern that holds every byte value, NUL included,
// and differs from one `seed` to another.
inline Text pattern_bytes(int64_t n, uint32_t seed = 1) {
  Text bytes(static_cast<size_t>(n), '\0');
  uint32_t state = seed * 2654435761u + 12345u;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

// While alive, the process acts as an ordinary user, so that file
// permissions bind it as they bind any user (an administrator would pass
// them). Does nothing when the process is an ordinary user already.
class AsPlainUser {
 public:
  AsPlainUser();
  ~AsPlainUser();
  AsPlainUser(const AsPlainUser&) = delete;
  AsPlainUser& operator=(const AsPlainUser&) = delete;

 private:
  bool switched_ = false;
};

// Whether a read-only file refuses writing to this process (inside an
// AsPlainUser scope). Not so when Wine runs as the administrator: it keeps the
// read-only attribute in the POSIX mode, which binds no administrator.
bool read_only_files_bind(const TempDir& dir);

// Makes `path` a sparse file of `size` bytes that holds `bytes` at `offset`
// (from 0) and zeros elsewhere, without writing the zeros.
void make_sparse_file(const Text& path, int64_t size, int64_t offset, const Text& bytes);

// A pipe with a name that open_binary opens, whose writing end the test
// holds: a FIFO in `dir` on POSIX, a named pipe on Windows. The reader opens
// it first (open_binary); the writer comes only when open_writer is called,
// so that until then the reader finds a pipe that nobody writes to.
class TestPipe {
 public:
  explicit TestPipe(const TempDir& dir);
  ~TestPipe();
  TestPipe(const TestPipe&) = delete;
  TestPipe& operator=(const TestPipe&) = delete;

  const Text& name() const { return name_; }
  void open_writer();
  void write(const Text& bytes);
  // The writer goes: the reader reaches the pipe's end.
  void close_writer();

 private:
  Text name_;
  intptr_t writer_ = -1;
};
