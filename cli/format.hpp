// The three output formats of the command line.
//
//   table  each output labelled "name: rows x cols", numbers aligned by column
//   csv    "# name", then rows of shortest round-trip numbers ('.' for
//          missing); outputs separated by a blank line
//   json   one object per call (JSON Lines in scripts), round-trip numbers,
//          null for missing values
//
// Messages go to standard error as "NOTE: ..." / "ERROR: ..." in table and
// csv; in json they are part of the object.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/matrix_file.hpp"
#include "host/host.hpp"

namespace mvts::cli {

enum class Format { kTable, kCsv, kJson };

std::optional<Format> parse_format(std::string_view name);

// One matrix to show.  `index` is the output number of a call (1 = first),
// 0 for a variable; `m` is null when there is no value; `names` (when not
// null or empty) names its columns: a line of names in table and csv, the
// field "columns" in json.
struct Shown {
  std::string name;
  int index = 0;
  const Matrix* m = nullptr;
  const ColumnNames* names = nullptr;
};

// "name: r x c", the column names when given (one per column, made safe
// for a terminal), and the rows, each column right-aligned with a common
// number of decimals (seven significant digits; scientific notation for a
// column with very large or very small magnitudes); '.' for missing values.
// Written in blocks (BlockOut) after a first pass over the values for the
// columns' styles and widths.
void write_table(std::ostream& out, const std::string& label, const Matrix& m,
                 const ColumnNames* names = nullptr);
std::string table_text(const std::string& label, const Matrix& m,
                       const ColumnNames* names = nullptr);

// Text and numbers gathered in a block of 64 KiB and handed to the stream a
// block at a time: a matrix of any size is written with no more than that
// held beside it.  Numbers are the shortest text that reads back as the same
// double, as std::to_chars writes it (shortest_text).
class BlockOut {
 public:
  explicit BlockOut(std::ostream& out) : out_(out) {}
  ~BlockOut() { flush(); }
  BlockOut(const BlockOut&) = delete;
  BlockOut& operator=(const BlockOut&) = delete;
  void text(std::string_view s);
  void ch(char c) {
    if (n_ == kSize) flush();
    buf_[n_++] = c;
  }
  // x, or `missing` for a missing value.
  void number(double x, std::string_view missing);
  void flush();

 private:
  static constexpr std::size_t kSize = std::size_t(1) << 16;
  std::ostream& out_;
  std::size_t n_ = 0;
  char buf_[kSize];
};

// "# name", the line of column names when given (column_names_line), and
// the rows, numbers as the shortest round-trip text, '.' for missing values.
void write_csv(std::ostream& out, const std::string& name, const Matrix& m,
               const ColumnNames* names = nullptr);
std::string csv_text(const std::string& name, const Matrix& m,
                     const ColumnNames* names = nullptr);

// The shortest text that reads back as the same double; null when missing.
std::string json_number(double x);

// The object of one call:
// {"function":..,"status":..,"messages":[{"number":..,"inserts":[..],"text":..,"note":..}],
//  "outputs":[{"name":..,"index":..,"rows":..,"cols":..,"columns":[..],"data":[[..],..]}],
//  "argument":{"index":..,"name":..} or null}
// "columns" only for an output with column names.  Notes written by the
// module with print_note are messages with number 0.
// "argument" names the input whose check ended the call (r.argument, with
// `argument_name` its name); null when there is none.
std::string json_call(const std::string& function, const CallResult& r,
                      const std::vector<Shown>& outputs, const std::string& argument_name = {});
// The same object and a newline written to `out` in blocks.
void write_json_call(std::ostream& out, const std::string& function, const CallResult& r,
                     const std::vector<Shown>& outputs, const std::string& argument_name = {});

// The standard-error lines of a call: "NOTE: ..." and "ERROR: ...", each
// after `where` (e.g. "line 3: "), and a line explaining a non-zero status
// that no error message explains.  When a check of an input ended the call
// (r.argument), the lines name it: argument 8 (`initial`).
std::vector<std::string> message_lines(const std::string& function, const CallResult& r,
                                       const std::string& where,
                                       const std::string& argument_name = {});

// What a status code means.
std::string status_meaning(int status);
// What an argument status says of the named argument ("contains missing
// values"); empty for a status that is not about an argument.
std::string argument_status_meaning(int status);
// "argument 8 (`initial`)"; "argument 8" without a name.
std::string argument_label(int index, const std::string& name);

// Writes results in one format to an output and an error stream.
// A text as a JSON string, quoted and escaped (invalid UTF-8 replaced).
std::string json_string(const std::string& s);

class Printer {
 public:
  Printer(Format format, std::ostream& out, std::ostream& err);

  Format format() const { return format_; }

  // A call: its messages, then the outputs given (those not assigned).
  void call(const std::string& function, const CallResult& r, const std::vector<Shown>& outputs,
            const std::string& where, const std::string& argument_name = {});

  // Variables or derived matrices of a script command (print, stats): in
  // json one object {"<command>":"<subject>", <extra>, "outputs":[...]}.
  void matrices(const std::string& command, const std::string& subject,
                const std::vector<Shown>& items, const std::string& json_extra = {});

  // A block of text, as a table block (the summary of a fit).
  void text(const std::string& text) { block(text); }

  // A line on standard error, standard output flushed first so the two
  // streams stay in order on a terminal.
  void error_line(const std::string& line);

 private:
  void block(const std::string& text);  // a table block, blank-line separated
  void show(const Shown& o);            // a table or csv block of a matrix

  Format format_;
  std::ostream& out_;
  std::ostream& err_;
  bool started_ = false;
};

}  // namespace mvts::cli
