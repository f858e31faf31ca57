// Member names that could reach outside the output directory, or that the
// system would store under another name.
#pragma once

#include "text/text.h"

// True when `name` could reach outside the output directory: a ".."
// component. On Windows, where each component is tested as the system will
// hold it (converted from UTF-8 or the ANSI code page), also a component
// with a drive colon, a device name, or a final dot or space, which Windows
// drops ("report." would be stored as "report", "dir./x" land in "dir", ".. "
// mean the parent); and a name whose bytes are neither UTF-8 nor text of
// the ANSI code page, which the system could only be given as some other
// name.
bool is_unsafe_name(const Text& name);
