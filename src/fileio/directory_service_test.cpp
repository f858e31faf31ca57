#include "fileio/directory_service.h"

#include <gtest/gtest.h>

#include <set>

#include "fileio/path_style.h"
#include "fileio/test_files.h"

namespace {

// A small tree: three plain files, a plain file named like a directory, a
// directory with something in it and an empty directory.
class DirectoryServiceTest : public FileServiceTest {
 protected:
  void SetUp() override {
    for (const char* file : {"backup.tar", "other.tar", "notes.txt", "restore"}) {
      write_file(dir.at(file), "data");
    }
    std::filesystem::create_directory(dir.at("sub"));
    std::filesystem::create_directory(dir.at("empty"));
    write_file(dir.at("sub") + kSeparator + "inside.txt", "data");
  }
};

TEST_F(DirectoryServiceTest, NamedEntriesAndTheMask) {
  struct Probe {
    const char* name;
    int32_t mask;
    const char* expected;
  };
  const Probe probes[] = {
      {"backup.tar", 0, "backup.tar"},  // a plain file, alone
      {"backup.tar", kAttributeDirectory, "backup.tar"},
      {"sub", 0, ""},  // a directory needs the directory bit
      {"sub", kAttributeDirectory, "sub"},
      {"restore", kAttributeDirectory, "restore"},  // a plain file passes the directory mask
      {"sub", kAttributeHidden | kAttributeSystem, ""},
      {"sub", 8, ""},  // bits other than 2, 4 and 16 do not count
      {"sub", 1 | 8 | 32 | kAttributeDirectory, "sub"},
      {"backup.tar", -1, "backup.tar"},
      {"missing.tar", 0, ""},
      {"missing.tar", kAttributeDirectory, ""},
  };
  for (const Probe& probe : probes) {
    SCOPED_TRACE(std::string(probe.name) + " mask " + std::to_string(probe.mask));
    EXPECT_EQ(find_entry(dir.at(probe.name), probe.mask), probe.expected);
  }
}

TEST_F(DirectoryServiceTest, TrailingSeparatorSearchesInside) {
  const Text inside = dir.path() + kSeparator;
  EXPECT_EQ(all_found(inside, kAttributeDirectory),
            (std::set<Text>{"backup.tar", "other.tar", "notes.txt", "restore", "sub", "empty"}));
  EXPECT_EQ(all_found(inside, 0),
            (std::set<Text>{"backup.tar", "other.tar", "notes.txt", "restore"}));
  EXPECT_EQ(all_found(dir.at("sub") + kSeparator, 0), std::set<Text>{"inside.txt"});
  EXPECT_EQ(find_entry(dir.at("empty") + kSeparator, kAttributeDirectory), "");
  EXPECT_EQ(find_entry(dir.at("empty") + kSeparator, 0), "");
}

TEST_F(DirectoryServiceTest, WildcardsInTheLastComponent) {
  if (!holds_wildcards("*")) GTEST_SKIP() << "on POSIX \"*\" and \"?\" are bytes of a name";
  struct Probe {
    const char* pattern;
    int32_t mask;
    std::set<Text> expected;
  };
  const Probe probes[] = {
      {"*.tar", 0, {"backup.tar", "other.tar"}},
      {"?otes.txt", 0, {"notes.txt"}},
      {"back*", 0, {"backup.tar"}},
      {"s*", 0, {}},
      {"s*", kAttributeDirectory, {"sub"}},
      {"*e*", kAttributeDirectory, {"other.tar", "notes.txt", "restore", "empty"}},
      {"*.none", kAttributeDirectory, {}},
  };
  for (const Probe& probe : probes) {
    SCOPED_TRACE(probe.pattern);
    EXPECT_EQ(all_found(dir.at(probe.pattern), probe.mask), probe.expected);
  }
}

TEST_F(DirectoryServiceTest, EmptyPathContinuesThePreviousSearch) {
  std::set<Text> found{find_entry(dir.path() + kSeparator, 0)};
  for (int i = 0; i < 3; ++i) found.insert(find_entry("", 0));
  EXPECT_EQ(found, (std::set<Text>{"backup.tar", "other.tar", "notes.txt", "restore"}));
  EXPECT_EQ(find_entry("", 0), "");
}

TEST_F(DirectoryServiceTest, ContinuationAfterEachKindOfProbe) {
  // After a named entry there is no next one.
  ASSERT_EQ(find_entry(dir.at("backup.tar"), 0), "backup.tar");
  EXPECT_EQ(find_entry("", 0), "");
  // After a probe that found nothing.
  EXPECT_EQ(find_entry(dir.at("missing"), 0), "");
  EXPECT_EQ(find_entry("", 0), "");
  // A search that ran out stays closed.
  EXPECT_EQ(all_found(dir.path() + kSeparator, 0).size(), 4u);
  EXPECT_EQ(find_entry("", 0), "");
  EXPECT_EQ(find_entry("", 0), "");
  // A new probe ends the search before it: the listing is not continued.
  ASSERT_NE(find_entry(dir.path() + kSeparator, kAttributeDirectory), "");
  ASSERT_EQ(find_entry(dir.at("sub") + kSeparator, 0), "inside.txt");
  EXPECT_EQ(find_entry("", kAttributeDirectory), "");
}

TEST_F(DirectoryServiceTest, ContinuationKeepsTheMaskOfItsSearch) {
  // Continued with mask 16, a search opened with mask 0 still passes
  // directories over.
  std::set<Text> found;
  for (Text name = find_entry(dir.path() + kSeparator, 0); !name.empty() && found.size() < 100;
       name = find_entry("", kAttributeDirectory)) {
    found.insert(name);
  }
  EXPECT_EQ(found, (std::set<Text>{"backup.tar", "other.tar", "notes.txt", "restore"}));
}

TEST_F(DirectoryServiceTest, MissingParentFindsNothing) {
  const Text missing = dir.at("nothere") + kSeparator;
  for (const Text& path : {missing + "backup.tar", missing, missing + "*.tar", missing + "sub"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(find_entry(path, 0), "");
    EXPECT_EQ(find_entry(path, kAttributeDirectory), "");
    EXPECT_EQ(find_entry("", kAttributeDirectory), "");
  }
}

}  // namespace
