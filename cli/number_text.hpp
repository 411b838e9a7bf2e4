// Numbers as text, both ways, at the speed of the conversion itself: the
// writer of every round-trip format (csv, json, the script's write) and the
// reader of files of numbers.
#pragma once

#include <cstddef>
#include <string_view>

namespace mvts::cli {

// Room that shortest_text needs: "-2.2250738585072014e-308" is 24 bytes,
// an integer written out in full at most 23; the writer copies blocks of
// digits of a fixed length and may write up to 34 bytes, of which it keeps
// those up to the end it returns.
inline constexpr std::size_t kShortestTextRoom = 40;

// Writes finite x at `first` as std::to_chars(first, last, x) does (the
// shortest text that reads back as the same double; fixed notation where
// it is no longer than scientific, integers in fixed notation written
// exactly), byte for byte, and returns the end.  `first` has
// kShortestTextRoom bytes of room.
char* shortest_text(char* first, double x);

// A decimal number at the start of `text` in the form
// [-] digits [. digits] [(e|E) [+-] digits] (or [-] . digits ...), read
// correctly rounded; the bytes read, or 0 when the text does not start so
// or the number is zero, beyond the largest double or below the smallest
// subnormal (the caller's general reader decides those).
std::size_t read_decimal(std::string_view text, double* x);

}  // namespace mvts::cli
