#include "extract/link_target.h"

#include <gtest/gtest.h>

#include <vector>

#include "fileio/path_style.h"

namespace {

struct LinkCase {
  const char* what;
  Text link;  // the link's key
  Text target;
  LinkTargets links;  // the archive's links
  LinkVerdict verdict;
  Text reached;  // when inside
};

void expect_cases(const std::vector<LinkCase>& cases) {
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.what);
    const ResolvedLink resolved = resolve_link(c.link, c.target, c.links);
    EXPECT_EQ(resolved.verdict, c.verdict) << verdict_reason(resolved.verdict);
    EXPECT_EQ(resolved.reached, c.verdict == LinkVerdict::inside ? c.reached : "");
  }
}

TEST(ResolveLink, StaysInsideAtEveryStep) {
  using V = LinkVerdict;
  expect_cases({
      {"a sibling", "l", "f", {}, V::inside, "f"},
      {"up from a subdirectory", "d/l", "../f", {}, V::inside, "f"},
      {"the output directory itself", "d/l", "..", {}, V::inside, ""},
      {"the link's own directory", "d/l", ".", {}, V::inside, "d"},
      {"empty and . levels", "l", ".//a/./b/", {}, V::inside, "a/b"},
      {"above the output directory", "l", "..", {}, V::outside, ""},
      {"out and back in", "l", "a/../../out/x", {}, V::outside, ""},
      {"out and back in from below", "d/e/l", "../../../out/d", {}, V::outside, ""},
      {"from the root", "l", "/etc", {}, V::absolute, ""},
      {"two slashes", "l", "//server/x", {}, V::absolute, ""},
      {"nothing", "l", "", {}, V::empty, ""},
      {"dangling inside", "l", "missing/file", {}, V::inside, "missing/file"},
  });
}

TEST(ResolveLink, FollowsTheArchivesOwnLinks) {
  using V = LinkVerdict;
  LinkTargets chain;
  for (int i = 0; i < 41; ++i) {
    chain["c" + std::to_string(i)] = i == 40 ? "f" : "c" + std::to_string(i + 1);
  }
  LinkTargets shorter = chain;
  shorter.erase("c40");
  shorter["c39"] = "f";
  expect_cases({
      // The order of the members does not matter: every link is known.
      {"a -> . then b -> a/a/a/../..", "b", "a/a/a/../..", {{"a", "."}}, V::outside, ""},
      {"a -> . then b -> a/a/a", "b", "a/a/a", {{"a", "."}}, V::inside, ""},
      {"through a link to the top", "d/esc", "up/../x", {{"d/up", ".."}}, V::outside, ""},
      {"through a link to a directory", "l", "sub/../x", {{"sub", "d/e"}}, V::inside, "d/x"},
      {"through a link deeper down", "x", "d/l1/f", {{"d/l1", "../e"}}, V::inside, "e/f"},
      {"through an absolute link", "l", "abs/passwd", {{"abs", "/etc"}}, V::absolute, ""},
      {"a chain", "l", "c1", {{"c1", "c2"}, {"c2", "f"}}, V::inside, "f"},
      {"a loop of two", "x", "l1", {{"l1", "l2"}, {"l2", "l1"}}, V::too_many_links, ""},
      {"a link through itself", "a", "a/x", {{"a", "a/x"}}, V::too_many_links, ""},
      {"40 links on the way", "x", "c0", shorter, V::inside, "f"},
      {"41 links on the way", "x", "c0", chain, V::too_many_links, ""},
  });
}

TEST(ResolveLink, DrivesAndBackslashesAreWindowsOnes) {
  using V = LinkVerdict;
  const bool w = kWindowsNames;
  // On POSIX a backslash and a colon are bytes of a name like any other.
  expect_cases({
      {"a drive's root", "l", "C:\\", {}, w ? V::drive_or_colon : V::inside, "C:\\"},
      {"a drive's current directory", "l", "C:x", {}, w ? V::drive_or_colon : V::inside, "C:x"},
      {"a colon later", "l", "a/b:c", {}, w ? V::drive_or_colon : V::inside, "a/b:c"},
      {"a backslash first", "l", "\\x", {}, w ? V::absolute : V::inside, "\\x"},
      {"a server's share",
       "l",
       "\\\\server\\share",
       {},
       w ? V::absolute : V::inside,
       "\\\\server\\share"},
      {"backslash levels", "d/l", "..\\..\\x", {}, w ? V::outside : V::inside, "d/..\\..\\x"},
  });
}

TEST(LinkKey, DropsEmptyAndDotLevels) {
  const struct {
    Text name;
    Text key;
  } cases[] = {
      {"a/b", "a/b"},
      {"./a//b/", "a/b"},
      {"a/./b", "a/b"},
      {"/abs/x", "abs/x"},
      {".", ""},
      {"", ""},
      {"Dir\\File", kWindowsNames ? "dir/file" : "Dir\\File"},
  };
  for (const auto& c : cases) EXPECT_EQ(link_key(c.name), c.key) << c.name;
}

}  // namespace
