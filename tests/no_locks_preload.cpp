// Preloaded into holvex (LD_PRELOAD), this makes every flock fail as it does
// on a file system that cannot lock (some network and FUSE file systems).
#include <errno.h>

extern "C" int flock(int, int) {
  errno = ENOLCK;
  return -1;
}
