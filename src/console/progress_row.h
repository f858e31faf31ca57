// The progress row: one row of the screen, the one the cursor stands on,
// used to show how a long piece of work is going and blanked again before
// anything else is written, so that the screen then holds exactly what it
// would hold without it. Nothing is ever drawn when standard output is not
// the console's screen (redirected to a file or a pipe).
#pragma once

#include "text/text.h"

// True when standard output is the console's screen itself.
bool output_is_screen();
// Shows `text` on the cursor's row from its first column, cut to fit the
// row, and leaves the cursor at the start of that row.
void show_progress_row(const Text& text);
// Blanks the cursor's row and leaves the cursor at its start.
void clear_progress_row();
