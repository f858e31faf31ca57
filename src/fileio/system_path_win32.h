// The one road from a path as the program holds it (bytes) to the path every
// Windows file call is given: a wide path with the "\\?\" prefix, so that
// paths of any length up to 32,767 characters are reached whole.
#pragma once

#include <string>

#include "text/text.h"

struct SystemPath {
  // "" when the path cannot be reached (a NUL byte, too long, unresolvable).
  std::wstring path;
  // A device ("COM1", "NUL", "\\.\..."), not a path in a file system.
  bool device = false;
};

// The bytes become UTF-16 piece by piece (wide_name): UTF-8 where they are
// valid UTF-8, else the ANSI code page; a path holding a piece that fits
// neither cannot be reached. The normalisation that Windows gives a narrow
// path and that "\\?\" switches off is applied first: trailing dots and
// spaces of each component removed, "/" taken as "\", runs of separators
// merged, "." and ".." resolved, a relative path completed from the current
// directory. A device name resolves to its device, without the prefix. A path
// given with "\\?\" is used as it is, as the system uses it.
SystemPath system_path(const Text& path);

// A name the system gives back (a directory entry's), in the program's bytes:
// UTF-8.
Text program_name(const wchar_t* name);
