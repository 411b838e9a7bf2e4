// Files of numbers: the @file reader of values and scripts and the writer
// of the script's `write`, one code for both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cli/errors.hpp"
#include "host/host.hpp"

namespace mvts::cli {

// The content of a CSV or blank-separated file, one row per line; '.', NA
// or an empty field is missing, '#' starts a comment, blank lines are
// skipped, a UTF-8 byte-order mark at the start is skipped.  `name` names
// the file in messages.
Matrix parse_matrix_file(std::string_view content, const std::string& name);

// Screens the bytes of a file of numbers as they are read, so that what
// cannot be one is refused at once, whatever its length: a NUL byte, or a
// field (outside a comment) longer than kLongestNumber bytes.  UsageError
// naming the file and the line.
class NumberFileScreen {
 public:
  // The exact decimal expansion of a double takes at most 1077 characters
  // (-0.000...0494..., the smallest subnormal: 323 zeros after the point
  // and 751 significant digits); a field four times as long is no number.
  static constexpr std::size_t kLongestNumber = 4096;
  // The next bytes of the file `name`.
  void feed(std::string_view chunk, const std::string& name);

 private:
  std::size_t line_ = 1;
  bool comment_ = false;
  std::size_t token_ = 0;  // bytes of the field being read
};

// The file read and screened block by block (NumberFileScreen), then
// parse_matrix_file: a large valid file is still read whole.
Matrix read_matrix_file(const std::string& path);

// Writes a matrix as CSV, numbers as the shortest text that reads back as the
// same double, NA for missing values (a file that read_matrix_file and
// common CSV readers read back exactly).
// ResourceError with the system's reason when the file cannot be written.
void write_matrix_file(const std::string& path, const Matrix& m);

}  // namespace mvts::cli
