// Where the Holvex project can be reached: the banner's credit and the
// address users ask at for a member type to be supported.
#pragma once

#include "text/text.h"

inline const Text kProjectAddress = "https://holvex.example/";
inline const Text kSupportAddress = kProjectAddress + "support";
