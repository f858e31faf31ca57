// The byte-string value that all of Holvex's text work is done in.
#pragma once

#include <string>

// A byte string of explicit length: any byte, NUL included. Positions in a
// Text are counted from 1 by the string operations; there is no character-set
// conversion and no case folding anywhere.
using Text = std::string;
