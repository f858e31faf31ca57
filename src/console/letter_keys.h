// The PC keyboard's three rows of letter keys (Q to P, A to L, Z to M) and
// their scan codes: the one table behind Alt+letter on both platforms.
#pragma once

#include <cstddef>

// The letters in scan-code order from kFirstLetterScanCode; a NUL marks a
// scan code between the rows that belongs to no letter.
inline constexpr char kLetterRows[] = "qwertyuiop\0\0\0\0asdfghjkl\0\0\0\0\0zxcvbnm";
inline constexpr unsigned char kFirstLetterScanCode = 0x10;
inline constexpr size_t kLetterRowCodes = sizeof kLetterRows - 1;

// True when the scan code is that of a letter key.
constexpr bool is_letter_scan_code(unsigned char scan_code) {
  return scan_code >= kFirstLetterScanCode &&
         static_cast<size_t>(scan_code - kFirstLetterScanCode) < kLetterRowCodes &&
         kLetterRows[scan_code - kFirstLetterScanCode] != '\0';
}

// The scan code of the letter key that gives `byte` (either case), 0 for a
// byte that is no letter.
constexpr unsigned char letter_scan_code(unsigned char byte) {
  if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
  if (byte < 'a' || byte > 'z') return 0;
  for (size_t i = 0; i < kLetterRowCodes; ++i) {
    if (static_cast<unsigned char>(kLetterRows[i]) == byte) {
      return static_cast<unsigned char>(kFirstLetterScanCode + i);
    }
  }
  return 0;
}
