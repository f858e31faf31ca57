// Member names that could reach outside the output directory.
#pragma once

#include "text/text.h"

// True when `name` could reach outside the output directory: a ".."
// component; on Windows also a component with a drive colon, a device name,
// or one made of dots and spaces alone that Windows can turn into ".."; and
// there a name whose bytes are neither UTF-8 nor text of the ANSI code page,
// which the system could only be given as some other name.
bool is_unsafe_name(const Text& name);
