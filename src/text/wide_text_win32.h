// Texts at the Windows boundary. Inside the program every text is bytes; the
// system takes and gives wide (UTF-16) text. A name or path is read piece by
// piece, the pieces being what lies between separators ("\" and "/"): a
// piece whose bytes are valid UTF-8 is UTF-8, any other is read in the ANSI
// code page (old archives written by Windows programs). So a path joined from
// a UTF-8 output directory and an old archive's name reaches the directory
// it names. What the system gives back is UTF-8.
#pragma once

#include <optional>
#include <string>

#include "text/text.h"

// The code page a piece that is not UTF-8 is read in (CP_ACP: the system's
// ANSI code page).
inline constexpr unsigned kAnsiCodePage = 0;

// The wide form of a name or path; none when a piece fits neither UTF-8 nor
// the code page. A piece is never given a replacement character, which would
// make many names one. Two names can still become one where a character is
// spelled both ways: "é" is C3 A9 in UTF-8 and E9 in code page 1252, so a
// member named in each lands on one file, as a name written twice does (the
// later member's bytes stand).
std::optional<std::wstring> wide_name(const Text& bytes, unsigned code_page = kAnsiCodePage);

// The wide form of a text to be shown: as wide_name, and a piece that fits
// neither is shown with replacement characters where its bytes fit nothing.
std::wstring wide_shown(const Text& bytes, unsigned code_page = kAnsiCodePage);

// Wide text as UTF-8 bytes (a lone surrogate becomes a replacement character).
Text utf8_of(const wchar_t* wide, size_t length);
Text utf8_of(const std::wstring& wide);

// A text to be shown, as UTF-8: the bytes of wide_shown.
Text utf8_shown(const Text& bytes);
