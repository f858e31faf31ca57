// The few path rules that differ between Windows and POSIX. This is the one
// place the shared logic learns which platform it runs on.
#pragma once

#include "text/string_ops.h"
#include "text/text.h"

#ifdef _WIN32
inline constexpr char kSeparatorChar = '\\';
inline const Text kSeparator = "\\";
inline const Text kExampleArchive = "f:\\tar\\backup.tar";
inline const Text kExampleOutdir = "g:\\restore\\";
// Windows names also split at "\" and refuse ":" and device names.
inline constexpr bool kWindowsNames = true;
// A full reference on Windows holds a drive colon somewhere.
inline bool outdir_looks_right(const Text& outdir) {
  return find_text(1, outdir, ":") != 0;
}
#else
inline constexpr char kSeparatorChar = '/';
inline const Text kSeparator = "/";
inline const Text kExampleArchive = "/tar/backup.tar";
inline const Text kExampleOutdir = "/restore/";
inline constexpr bool kWindowsNames = false;
// A full reference on POSIX is an absolute path.
inline bool outdir_looks_right(const Text& outdir) {
  return first_code(outdir) == '/';
}
#endif
