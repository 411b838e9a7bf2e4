// The value syntax and the script language of the command line.
//
// Values:  0.5   "1 2 3" (1 x 3)   "1;2;3" (3 x 1)   "0.5 0.1; 0.1 0.5"
//          .  nan  inf  -inf (missing)   @file (CSV or blank-separated)
//          empty (an argument holding no value)   $name (a script variable)
//          anything else: a character value.
// Script lines:  [NAME[, NAME ...] =] FUNCTION [VALUE | NAME=VALUE ...]
//                print NAME ...    write NAME PATH    stats NAME ...
//                let NAME = VALUE  # comments
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.hpp"

namespace mvts::cli {

// Bad syntax, an unknown name or an unreadable file: exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Script variables.  A name assigned from an output that the call did not
// create holds no value (std::nullopt).
using Variables = std::map<std::string, std::optional<Matrix>>;

bool is_identifier(std::string_view s);

// One element: "." and the nan / inf forms are missing values; nullopt when
// the text is not a number.
std::optional<double> parse_number(std::string_view token);

// A numeric matrix written inline: rows separated by ';', elements by blanks
// or commas.  nullopt when an element is not a number (the text is then a
// character value); UsageError when every element is a number but the
// matrix is badly formed (rows of different lengths, an empty row or element).
std::optional<Matrix> parse_matrix(std::string_view text);

// The whole content of a file; UsageError naming the file when it cannot be read.
std::string read_file(const std::string& path);

// Reads a CSV or blank-separated file, one row per line; '.', NA or an empty
// field is missing, '#' starts a comment, blank lines are skipped.
Matrix read_matrix_file(const std::string& path);

// Writes a matrix as CSV, numbers as %.17g, NA for missing values (a file
// that read_matrix_file and common CSV readers read back exactly).
void write_matrix_file(const std::string& path, const Matrix& m);

// The argument that the text of one value stands for.  `vars` is null on the
// command line, where $name is not available.
Value parse_value(std::string_view text, const Variables* vars);

// A word of the command line or of a script line.  `eq` is the position of
// its first '=' outside quotes (npos when none).
struct Word {
  std::string text;
  std::size_t eq = std::string::npos;
};

// Splits a script line into words: blanks separate words, "..." and '...'
// quote (\" and \\ escape inside double quotes), '#' at the start of a word
// begins a comment.  UsageError on an unterminated quote.
std::vector<Word> split_words(std::string_view line);

// What binding and script checking need to know about a function.
struct Signature {
  std::string name;                       // as registered
  int max_inputs = 0;
  int outputs = 0;
  std::vector<std::string> input_names;   // max_inputs names
  std::vector<std::string> output_names;  // outputs names
};

// The value texts of a call, one per input slot (nullopt: omitted).
struct BoundCall {
  std::string function;
  std::vector<std::optional<std::string>> slots;
};

// Binds the argument words of a call to input slots: NAME=VALUE by name
// (case-insensitive), other words by position.  A value by position after
// one by name, an unknown name, a slot given twice or too many values are
// usage errors.
BoundCall bind_arguments(const Signature& f, const std::vector<Word>& words);

struct Statement {
  enum class Kind { kCall, kPrint, kWrite, kStats, kLet };
  Kind kind = Kind::kCall;
  int line = 0;
  std::vector<std::string> names;  // assigned names (call), or the variables named
  BoundCall call;                  // kCall
  std::string text;                // kWrite: the path; kLet: the value text
};

using SignatureLookup = std::function<std::optional<Signature>(std::string_view)>;

// Parses a whole script.  Every problem found (syntax, unknown function or
// input, a variable used before any line sets it, a malformed literal value)
// is appended to `errors` as "LINE: problem"; the statements are meaningful
// only when `errors` stays empty.
std::vector<Statement> parse_script(std::string_view text, const SignatureLookup& lookup,
                                    std::vector<std::string>* errors);

}  // namespace mvts::cli
