#include "fileio/entry_filter.h"

#include "fileio/directory_service.h"

namespace {

constexpr int32_t kCountedAttributes = kAttributeHidden | kAttributeSystem | kAttributeDirectory;

}  // namespace

int32_t probe_mask(int32_t mask) {
  return mask & kCountedAttributes;
}

bool entry_admitted(const Text& name, int32_t attributes, int32_t mask) {
  if (name == "." || name == "..") return false;
  const int32_t carried = attributes & kCountedAttributes;
  // A directory is found as one whatever else it is marked: the hidden and
  // system attributes tell a listing what to show, not whether it is there.
  if ((carried & mask & kAttributeDirectory) != 0) return true;
  return (carried & ~probe_mask(mask)) == 0;
}
