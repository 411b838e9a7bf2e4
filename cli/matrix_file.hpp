// Files of numbers: the @file reader of values and scripts and the writer
// of the script's `write`, one code for both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/errors.hpp"
#include "host/host.hpp"

namespace mvts::cli {

// The names of a matrix's columns, from the line of column names of the file
// it was read from; empty when the file had none.
using ColumnNames = std::vector<std::string>;

// The content of a CSV or blank-separated file, one row per line; '.', NA
// or an empty field is missing, '#' starts a comment, blank lines are
// skipped, a UTF-8 byte-order mark at the start is skipped.  `name` names
// the file in messages.  A first line of column names (no field a number,
// as R's write.csv, pandas' to_csv and spreadsheets write it; quoted fields,
// a doubled "" inside quotes for one ") names the columns (`names`, when
// given); an index column is left out: the one under an empty first name,
// or the first column when the rows have one field more than the line of
// names (R's write.table).  Any other count of names is an error naming
// the first row's line.
Matrix parse_matrix_file(std::string_view content, const std::string& name,
                         ColumnNames* names = nullptr);

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
  void screen(std::string_view chunk, const std::string& name);  // byte by byte

  std::size_t line_ = 1;
  bool comment_ = false;
  std::size_t token_ = 0;  // bytes of the field being read
};

// The file read and screened block by block (NumberFileScreen), then
// parse_matrix_file: a large valid file is still read whole.
Matrix read_matrix_file(const std::string& path, ColumnNames* names = nullptr);

// Writes a matrix as CSV, numbers as the shortest text that reads back as the
// same double, NA for missing values (a file that read_matrix_file and
// common CSV readers read back exactly).
// ResourceError with the system's reason when the file cannot be written.
// With `names`, their line (column_names_line) comes first.
void write_matrix_file(const std::string& path, const Matrix& m, const ColumnNames& names = {});

// A line of column names as CSV fields and a newline: a name in double
// quotes (a quote in it doubled) where it is empty or holds a comma, a
// quote, a '#' or a blank at either end.
std::string column_names_line(const ColumnNames& names);

}  // namespace mvts::cli
