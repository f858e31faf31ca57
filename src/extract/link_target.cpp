#include "extract/link_target.h"

#include <vector>

#include "fileio/path_style.h"

namespace {

// The links followed for one target at most: the systems stop at 40.
constexpr int kMostLinks = 40;

bool is_separator(char c) {
  return c == '/' || (kWindowsNames && c == '\\');
}

// The levels of `path`, without empty and "." levels.
std::vector<Text> levels_of(const Text& path) {
  std::vector<Text> levels;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !is_separator(path[i])) continue;
    Text level = path.substr(start, i - start);
    if (!level.empty() && level != ".") levels.push_back(std::move(level));
    start = i + 1;
  }
  return levels;
}

Text folded(Text level) {
  if (kWindowsNames) {
    for (char& c : level) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return level;
}

Text joined(const std::vector<Text>& levels) {
  Text path;
  for (const Text& level : levels) {
    if (!path.empty()) path += '/';
    path += level;
  }
  return path;
}

// Walks `target` from the directory `at` (levels below the output
// directory), following the archive's links; `at` ends as what it names.
LinkVerdict walk(std::vector<Text>& at, const Text& target, const LinkTargets& links,
                 const DiskLinks& disk, int& followed) {
  if (target.empty()) return LinkVerdict::empty;
  if (is_separator(target[0])) return LinkVerdict::absolute;
  if (kWindowsNames && target.find(':') != Text::npos) return LinkVerdict::drive_or_colon;
  for (const Text& level : levels_of(target)) {
    if (level == "..") {
      if (at.empty()) return LinkVerdict::outside;
      at.pop_back();
      continue;
    }
    at.push_back(folded(level));
    const Text key = joined(at);
    const auto link = links.find(key);
    Text on_disk;
    if (link == links.end() && !(disk && disk(key, on_disk))) continue;
    if (++followed > kMostLinks) return LinkVerdict::too_many_links;
    at.pop_back();
    const LinkVerdict verdict =
        walk(at, link != links.end() ? link->second : on_disk, links, disk, followed);
    if (verdict != LinkVerdict::inside) return verdict;
  }
  return LinkVerdict::inside;
}

}  // namespace

Text link_key(const Text& name) {
  // One pass, for every member: each level copied unless it is empty or
  // ".", with "/" between them.
  Text key;
  key.reserve(name.size());
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !is_separator(name[i])) continue;
    const size_t length = i - start;
    if (length > 0 && !(length == 1 && name[start] == '.')) {
      if (!key.empty()) key += '/';
      key.append(name, start, length);
    }
    start = i + 1;
  }
  return folded(std::move(key));
}

ResolvedLink resolve_link(const Text& link, const Text& target, const LinkTargets& links,
                          const DiskLinks& disk) {
  std::vector<Text> at = levels_of(link);
  if (!at.empty()) at.pop_back();
  int followed = 0;
  ResolvedLink resolved;
  resolved.verdict = walk(at, target, links, disk, followed);
  if (resolved.verdict == LinkVerdict::inside) resolved.reached = joined(at);
  return resolved;
}

Text verdict_reason(LinkVerdict verdict) {
  switch (verdict) {
    case LinkVerdict::inside:
      return "";
    case LinkVerdict::empty:
      return "it is empty";
    case LinkVerdict::absolute:
      return "it is an absolute path";
    case LinkVerdict::drive_or_colon:
      return "it names a drive or holds a colon";
    case LinkVerdict::outside:
      return "it leads outside the output directory";
    case LinkVerdict::too_many_links:
      return "it passes through too many links";
  }
  return "";
}
