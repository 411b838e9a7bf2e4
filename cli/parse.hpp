// The value syntax and the script language of the command line.
//
// Values:  0.5   "1 2 3" (1 x 3)   "1;2;3" (3 x 1)   "0.5 0.1; 0.1 0.5"
//          .  nan  inf  -inf (missing, the words in any letter case)
//          @file (CSV or blank-separated)
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

#include "cli/errors.hpp"
#include "cli/matrix_file.hpp"
#include "cli/printable.hpp"
#include "host/host.hpp"

namespace mvts::cli {

// Script variables.  A name assigned from an output that the call did not
// create holds no value (std::nullopt).
using Variables = std::map<std::string, std::optional<Matrix>>;

bool is_identifier(std::string_view s);

// One element: a decimal number ([+-]digits[.digits][e[+-]digits], the
// digits before or after the point may be absent but not both), or a
// missing value: ".", nan, inf or -inf (any letter case).  nullopt when the
// text is not a number.
std::optional<double> parse_number(std::string_view token);

// Why a token that C's strtod would read as a number is refused (a
// hexadecimal number, infinity, nan(...)); empty when the token is read or
// is no number at all.
std::string refused_number(std::string_view token);

// A numeric matrix written inline: rows separated by ';', elements by blanks
// or commas.  nullopt when an element is not a number (the text is then a
// character value); UsageError when every element is a number but the
// matrix is badly formed (rows of different lengths, an empty row or element)
// or an element is a number in a form that is refused (refused_number).
std::optional<Matrix> parse_matrix(std::string_view text);

// The whole content of a file; UsageError naming the file when it cannot be read.
std::string read_file(const std::string& path);

// The argument that the text of one value stands for.  `vars` is null on the
// command line, where $name is not available.  `names`, when given, receives
// the column names of an @file that has them.
Value parse_value(std::string_view text, const Variables* vars, ColumnNames* names = nullptr);

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
  bool summary = false;            // kCall of a fit: print its summary, not its outputs
  std::string text;                // kWrite: the path; kLet: the value text
};

using SignatureLookup = std::function<std::optional<Signature>(std::string_view)>;

// One script line; nullopt for a blank or comment-only line.  UsageError
// for a line that is not a statement.  The statement's line number is left 0.
std::optional<Statement> parse_statement(std::string_view line, const SignatureLookup& lookup);

// A script line that could not be held in memory.
class LineOutOfMemory : public std::runtime_error {
 public:
  explicit LineOutOfMemory(int line)
      : std::runtime_error(std::to_string(line) + ": out of memory reading this line"), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// Parses a whole script; a UTF-8 byte-order mark at its start is skipped.  Every problem found (syntax, unknown function or
// input, a variable used before any line sets it, a malformed literal value)
// is appended to `errors` as "LINE: problem"; the statements are meaningful
// only when `errors` stays empty.  LineOutOfMemory when a line cannot be held.
std::vector<Statement> parse_script(std::string_view text, const SignatureLookup& lookup,
                                    std::vector<std::string>* errors);

}  // namespace mvts::cli
