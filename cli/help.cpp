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
    "mvts list                 the twelve functions with their inputs and outputs",
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
                          NA or an empty field is missing, # starts a comment)
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
All lines run in one host run, so random streams continue from call to call.
Results not assigned to a name are printed. A failing call stops the script
unless --keep-going is given.
)"},
    {"FORMATS", R"(Formats: table (default), csv (# name, then %.17g rows), json (one object per
call; JSON Lines in scripts). Messages go to standard error as NOTE: / ERROR:
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
  for (const char* line : kSynopsis) s += (s.empty() ? "usage: " : "       ") + std::string(line) + "\n";
  for (const HelpBlock& b : kBlocks) s += "\n" + std::string(b.text);
  return s;
}

std::string list_text() {
  std::string s;
  for (const FunctionDoc& f : catalog()) s += signature_line(f) + "\n    " + f.summary + "\n";
  return s;
}

std::string help_text(const FunctionDoc& f) {
  std::size_t width = 0;
  for (const InputDoc& in : f.inputs) width = std::max(width, std::string(in.name).size());
  for (const OutputDoc& out : f.outputs) width = std::max(width, std::string(out.name).size());
  width += 2;
  std::string s = f.name + std::string(": ") + f.summary + "\n\n  " + signature_line(f) + "\n\n";
  s += "Inputs, in order (by position or as NAME=VALUE):\n";
  for (std::size_t i = 0; i < f.inputs.size(); ++i) {
    const InputDoc& in = f.inputs[i];
    s += "  " + pad(std::to_string(i + 1), 3) + pad(in.name, width) + in.meaning + "\n";
    const std::string fallback = in.fallback;
    s += "     " + std::string(width, ' ') +
         (fallback == "required" ? fallback : "omitted: " + fallback) + "\n";
  }
  s += "Outputs:\n";
  for (std::size_t i = 0; i < f.outputs.size(); ++i)
    s += "  " + pad(std::to_string(i + 1), 3) + pad(f.outputs[i].name, width) + f.outputs[i].meaning + "\n";
  return s;
}

}  // namespace mvts::cli
