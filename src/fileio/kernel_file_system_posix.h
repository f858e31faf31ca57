// The kernel's interface file systems (proc, sysfs, cgroup, debugfs, ...),
// whose files are settings and switches of the running system rather than
// stored data: an output file or directory is never made or written there.
#pragma once

// True when the open descriptor lies on an ordinary file system, one that
// keeps what is written to it. False on an interface file system, and when
// the system cannot tell.
bool on_ordinary_file_system(int fd);
