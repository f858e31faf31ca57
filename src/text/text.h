// The byte-string value that all of Holvex's text work is done in.
#pragma once

#include <string>

// A byte string of explicit length: any byte, NUL included. Names stay the
// archive's own bytes, compared and written exactly as stored, whatever their
// encoding. The string operations count positions from 1.
using Text = std::string;
