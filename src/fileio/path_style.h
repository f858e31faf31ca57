// The few path rules that differ between Windows and POSIX. This is the one
// place the shared logic learns which platform it runs on.
#pragma once

#include <optional>

#include "text/string_ops.h"
#include "text/text.h"

#ifdef _WIN32
inline constexpr char kSeparatorChar = '\\';
inline const Text kSeparator = "\\";
inline const Text kExampleArchive = "f:\\tar\\backup.tar";
inline const Text kExampleOutdir = "g:\\restore\\";
// Windows names also split at "\" and refuse ":" and device names.
inline constexpr bool kWindowsNames = true;
// No Windows name holds a double quote: an answer wrapped in them is the
// path inside.
inline constexpr bool kQuotesWrapPaths = true;
// "*" and "?" are the probe's wildcards on Windows: no file name holds them,
// and a path holding them is never opened or made.
inline bool holds_wildcards(const Text& path) {
  return path.find_first_of("*?") != Text::npos;
}
// "/" is a separator on Windows as "\" is.
inline bool is_path_separator(char c) {
  return c == '\\' || c == '/';
}
// A full reference on Windows begins with a drive: a letter, a colon and a
// separator ("g:\", "g:/"). "g:out\" is relative to the drive's current
// directory; one that begins with two separators ("\\.\", "\\?\",
// "\\server\share") leads into the system's namespaces or onto a share,
// where a member path could land somewhere else than below it.
inline bool outdir_looks_right(const Text& outdir) {
  const auto drive = outdir.size() >= 3 ? static_cast<unsigned char>(outdir[0]) : 0;
  const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  return letter && outdir[1] == ':' && is_path_separator(outdir[2]);
}
// The name as the system will hold it, in UTF-8: each piece between
// separators converted as every path is (UTF-8 where its bytes are valid
// UTF-8, else the ANSI code page); none when a piece fits neither, which the
// system could only be given as some other name
// (fileio/system_path_win32.cpp).
std::optional<Text> system_name_text(const Text& name);
// The path that the existence probe is given for a directory whose path has
// lost its final separator. A bare drive ("g:") would search the drive's
// current directory: "g:\." names its root itself.
inline Text directory_probe(const Text& directory) {
  const bool bare_drive = directory.size() == 2 && directory[1] == ':';
  return bare_drive ? directory + "\\." : directory;
}
#else
inline constexpr char kSeparatorChar = '/';
inline const Text kSeparator = "/";
inline const Text kExampleArchive = "/tar/backup.tar";
inline const Text kExampleOutdir = "/restore/";
inline constexpr bool kWindowsNames = false;
// A POSIX name may hold double quotes: an answer is taken as typed.
inline constexpr bool kQuotesWrapPaths = false;
// On POSIX "*" and "?" are bytes of a name like any other: a name cannot
// hold only NUL and "/".
inline bool holds_wildcards(const Text&) {
  return false;
}
inline bool is_path_separator(char c) {
  return c == '/';
}
// A full reference on POSIX is an absolute path.
inline bool outdir_looks_right(const Text& outdir) {
  return first_code(outdir) == '/';
}
// Names stay bytes on POSIX: the system takes any as it is.
inline std::optional<Text> system_name_text(const Text& name) {
  return name;
}
// The path that the existence probe is given for a directory whose path has
// lost its final separator. The root "/" has nothing left, which would
// continue the last search, and a path that still ends in "/" would search
// the directory's entries: its "." names the directory itself, whatever it
// holds (a root that holds a plain file is still a directory).
inline Text directory_probe(const Text& directory) {
  if (directory.empty()) return "/.";
  return directory.back() == '/' ? directory + "." : directory;
}
#endif
