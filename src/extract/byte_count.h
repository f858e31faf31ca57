// Byte counts as the program shows them: decimal digits grouped by ",".
#pragma once

#include <cstdint>

#include "text/text.h"

// The count in the "0," form ("1,234"), exact for every 64-bit count.
Text byte_count(int64_t count);
