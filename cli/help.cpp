#include "cli/help.hpp"

#include <algorithm>
#include <iterator>

namespace mvts::cli {
namespace {

std::string pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

std::string signature_line(const FunctionDoc& f) {
  std::string s = f.name;
  s += "(";
  for (std::size_t i = 0; i < f.inputs.size(); ++i) s += (i ? ", " : "") + std::string(f.inputs[i].name);
  s += ") -> ";
  for (std::size_t i = 0; i < f.outputs.size(); ++i) s += (i ? ", " : "") + std::string(f.outputs[i].name);
  return s;
}

}  // namespace

namespace {

// The command forms, one a line, as `mvts help` shows them after "usage: ".
constexpr const char* kSynopsis[] = {
    "mvts FUNCTION [VALUE | NAME=VALUE ...] [--format table|csv|json]",
    "mvts run FILE|-  [--format table|csv|json] [--keep-going]",
    "mvts summary FIT [VALUE | NAME=VALUE ...]   a fit with standard errors and criteria",
    "mvts list                 the functions with their inputs and outputs",
    "mvts help FUNCTION        inputs, defaults and outputs of one function",
    "mvts study FILE.json [--workers N | --scheduler ADDRESS] [--out FILE.csv]",
    "                          a Monte-Carlo study (mvts help study: the file)",
    "mvts --version",
};

// The rest of the general help, block by block; the man page sets each
// block under its heading.
constexpr HelpBlock kBlocks[] = {
    {"DESCRIPTION", R"(FUNCTION is case-insensitive; inputs are given by position or by name.
)"},
    {"VALUES", R"(Values:
  0.5  -2  1e-3  .5      a number, written in decimal (hexadecimal numbers and
                          words such as infinity are refused)
  "1 2 3"  "1;2;3"        a 1 x 3 and a 3 x 1 matrix (rows by ';', elements by
  "0.5 0.1; 0.1 0.5"      blanks or commas)
  .  nan  inf  -inf       a missing value (the words in any letter case)
  @path                   a CSV or blank-separated file, one row per line ('.',
                          NA or an empty field is missing, # starts a comment);
                          a first line of column names labels the columns
  NAME=                   an input that holds no value
  $name                   a script variable
  other text              a character value
)"},
    {"SCRIPTS", R"(Scripts (mvts run), one statement per line, # starts a comment:
  y = VARMASIM phi="0.5 0.1; 0.1 0.5" n=200 seed=7
  ar, ma, s = VARMAFIT $y p=1 q=1
  print ar                print variables
  write y y.csv           write a variable as CSV (NA for missing values)
  stats y                 column means and sample covariance of a variable
  let mu = "1 2"          store a value in a variable
  d, ar, ma, s, mu = summary FARMAFITMEAN @nile.csv opt=1
                          a fit (FARMAFIT, FARMAFITMEAN or VARMAFIT) printed as
                          a table: estimates, standard errors from the observed
                          information, z, p-values, 95% intervals, the
                          log-likelihood with -n/2 ln(2 pi), AIC, BIC and HQIC
  f, mse, ci = FARMAFCST $y $d $ar $ma $s p=1 h=10 mean=$mu
  write ci ci.csv         forecasts and their 95% intervals (VARMAFCST alike)
All lines run in one host run, so random streams continue from call to call.
Results not assigned to a name are printed. A failing call stops the script
unless --keep-going is given.
)"},
    {"FORMATS", R"(Formats: table (default), csv (# name, then rows of shortest round-trip
numbers), json (one object per call; JSON Lines in scripts). Column names from
a file show as a line of names (table, csv) or the field "columns" (json) on
the values that came from it. Messages go to standard error as NOTE: / ERROR:
(in json they are part of the object). When the check of an input fails, the
error names it, as in argument 8 (`initial`); in json the field "argument"
holds its index and name (null when no input is at fault).
)"},
    {"EXIT STATUS", R"(Exit status: 0 every call succeeded, 1 a call failed, 2 usage error.
)"},
};

}  // namespace

std::vector<std::string> synopsis_lines() { return {std::begin(kSynopsis), std::end(kSynopsis)}; }

std::vector<HelpBlock> help_blocks() { return {std::begin(kBlocks), std::end(kBlocks)}; }

std::string usage_text() {
  std::string s;
  for (const char* line : kSynopsis) {
    s += s.empty() ? "usage: " : "       ";
    s += line;
    s += '\n';
  }
  for (const HelpBlock& b : kBlocks) {
    s += '\n';
    s += b.text;
  }
  return s;
}

std::string list_text() {
  std::string s;
  for (const FunctionDoc& f : catalog()) s += signature_line(f) + "\n    " + f.summary + "\n";
  return s;
}

// text broken at blanks into lines of at most 79 columns, every line after
// the first indented by `indent` columns (the first starts at that column)
std::string wrapped(const std::string& text, std::size_t indent) {
  constexpr std::size_t kColumns = 79;
  const std::size_t room = kColumns > indent + 20 ? kColumns - indent : 20;
  std::string out, line;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > room) {
      out += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  return out + line;
}

std::string help_text(const FunctionDoc& f) {
  std::size_t width = 0;
  for (const InputDoc& in : f.inputs) width = std::max(width, std::string(in.name).size());
  for (const OutputDoc& out : f.outputs) width = std::max(width, std::string(out.name).size());
  width += 2;
  std::string s = f.name + std::string(": ") + f.summary + "\n\n  " +
                  wrapped(signature_line(f), 4) + "\n\n";
  s += "Inputs, in order (by position or as NAME=VALUE):\n";
  for (std::size_t i = 0; i < f.inputs.size(); ++i) {
    const InputDoc& in = f.inputs[i];
    s += "  " + pad(std::to_string(i + 1), 3) + pad(in.name, width) +
         wrapped(in.meaning, 5 + width) + "\n";
    const std::string fallback = in.fallback;
    s += "     " + std::string(width, ' ') +
         wrapped(fallback == kRequired ? fallback : "omitted: " + fallback, 5 + width) + "\n";
  }
  s += "Outputs:\n";
  for (std::size_t i = 0; i < f.outputs.size(); ++i) {
    const OutputDoc& out = f.outputs[i];
    s += "  " + pad(std::to_string(i + 1), 3) + pad(out.name, width) +
         wrapped(out.meaning + (out.absent ? std::string(" (one missing value when ") +
                                                 out.absent + ")"
                                           : std::string()),
                 5 + width) +
         "\n";
  }
  return s;
}

}  // namespace mvts::cli
