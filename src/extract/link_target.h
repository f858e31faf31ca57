// Where a symbolic link of the archive leads, and whether it stays inside
// the output directory. A target is safe when it is relative and, resolved
// from the link's own directory and following the links this archive makes
// and those already in the output directory, stays inside it at every step:
// "a/../../x" is refused even if it comes back, and so is "b -> a/a/a/../.."
// where "a -> .".
#pragma once

#include <functional>
#include <unordered_map>

#include "text/text.h"

enum class LinkVerdict {
  inside,          // the target stays inside the output directory
  empty,           // no target at all
  absolute,        // a path from the root ("/x"; on Windows also "\x", "\\server")
  drive_or_colon,  // on Windows: a drive ("C:\x", "C:x") or any other colon
  outside,         // it leads above the output directory at some step
  too_many_links,  // more links on its way than any real path has (a loop)
};

// A member name's levels below the output directory, "/" between them: its
// empty and "." levels dropped ("./a//b/" gives "a/b"); on Windows "\" is a
// separator too, and the levels are folded to lower case, as the system
// compares them.
Text link_key(const Text& name);

// The links of the archive, by their key (link_key of their names), each
// with its target as stored.
using LinkTargets = std::unordered_map<Text, Text>;

struct ResolvedLink {
  LinkVerdict verdict = LinkVerdict::inside;
  Text reached;  // when inside: the key of what the target names
};

// What stands on disk at a key that is no link of the archive: true, with
// its target as stored, for a symbolic link that was there before the run.
using DiskLinks = std::function<bool(const Text& key, Text& target)>;

// Resolves the target of the link whose key is `link` against the archive's
// links `links` and, where a level is none of them, the links already on
// disk (`disk`; none when empty).
ResolvedLink resolve_link(const Text& link, const Text& target, const LinkTargets& links,
                          const DiskLinks& disk = {});

// The words of a verdict other than `inside`, for the ERROR line.
Text verdict_reason(LinkVerdict verdict);
