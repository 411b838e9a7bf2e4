// Runs calls and scripts on one host: binds the arguments, calls the
// registered function, keeps script variables and prints through a Printer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/format.hpp"
#include "cli/parse.hpp"
#include "host/host.hpp"

namespace mvts::cli {

// Exit statuses of mvts.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a call returned a non-zero status
inline constexpr int kExitUsage = 2;   // bad syntax, unknown name, unreadable file

// A registered function as the command line sees it: the counts from the
// registration table, the names from the catalogue (arg1, arg2 ... and
// output1 ... for a function the catalogue does not describe).
std::optional<Signature> signature_of(const Host& host, std::string_view name);

class Runner {
 public:
  Runner(Host& host, Printer& printer) : host_(host), printer_(printer) {}

  // `mvts FUNCTION ARGS...`: the exit status.
  // With `summary`, the call must be a fit, and its summary is printed
  // instead of its outputs.
  int call(std::string_view function, const std::vector<Word>& args, bool summary = false);

  // `mvts run`: every line in this one host run, so random streams continue
  // from call to call.  `source` names the script in messages.  A script
  // with a syntax error runs no line.  Without keep_going the first failing
  // line ends the run; the exit status is the worst of the lines run.
  int script(std::string_view text, const std::string& source, bool keep_going);

  const Variables& variables() const { return vars_; }

 private:
  int execute(const Statement& st, const std::string& where);
  int run_call(const BoundCall& call, const std::vector<std::string>& names, const std::string& where,
               bool summary = false);
  bool print_summary(const std::string& function, const std::vector<Value>& args,
                     const CallResult& fit, const std::string& where);
  // The first numeric input with column names (from an @file or a
  // variable that has them) and its shape.
  struct NamedInput {
    ColumnNames names;
    std::int32_t rows = 0, cols = 0;
  };
  std::vector<Value> arguments(const BoundCall& call, NamedInput* named = nullptr);
  const ColumnNames* names_of(const std::string& variable) const;
  // Keeps `names` (null or empty: none) as the variable's column names.
  void set_names(const std::string& variable, const ColumnNames* names);
  void usage(const std::string& where, const std::string& problem);

  Host& host_;
  Printer& printer_;
  Variables vars_;
  std::map<std::string, ColumnNames> names_;  // variable -> its column names, where it has them
  std::map<std::string, int> failed_at_;  // variable -> line of the failed call that was to set it
  int line_ = 0;
};

}  // namespace mvts::cli
