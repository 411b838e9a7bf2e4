#include "cli/man.hpp"

#include <cctype>

#include "cli/help.hpp"
#include "host/catalog.hpp"

namespace mvts::cli {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Text kept as laid out for a terminal (columns of the help).
std::string verbatim(std::string_view text) { return ".nf\n" + roff_escape(text) + ".fi\n"; }

std::string function_section(const FunctionDoc& f) {
  std::string s = ".SS " + std::string(f.name) + "\n" + roff_escape(f.summary) + ".\n.PP\n";
  std::string sig = "\\fB" + std::string(f.name) + "\\fR(";
  for (std::size_t i = 0; i < f.inputs.size(); ++i) sig += (i ? ", " : "") + std::string(f.inputs[i].name);
  sig += ") \\-> ";
  for (std::size_t i = 0; i < f.outputs.size(); ++i) sig += (i ? ", " : "") + std::string(f.outputs[i].name);
  s += sig + "\n.PP\nInputs, in order (by position or as NAME=VALUE):\n";
  for (const InputDoc& in : f.inputs) {
    const std::string fallback = in.fallback;
    s += ".TP\n.I " + std::string(in.name) + "\n" + roff_escape(in.meaning) + "\n.br\n" +
         roff_escape(fallback == "required" ? fallback : "omitted: " + fallback) + "\n";
  }
  s += ".PP\nOutputs:\n";
  for (const OutputDoc& out : f.outputs)
    s += ".TP\n.I " + std::string(out.name) + "\n" + roff_escape(out.meaning) + "\n";
  return s;
}

}  // namespace

std::string roff_escape(std::string_view text) {
  std::string s;
  s.reserve(text.size() + text.size() / 8);
  bool line_start = true;
  for (char c : text) {
    if (line_start && (c == '.' || c == '\'')) s += "\\&";
    if (c == '\\') {
      s += "\\e";
    } else if (c == '-') {
      s += "\\-";
    } else {
      s += c;
    }
    line_start = c == '\n';
  }
  return s;
}

std::string man_page(std::string_view version) {
  std::string s = ".\\\" mvts(1), written by `mvts --man` from the catalogue that mvts help reads.\n";
  s += ".TH MVTS 1 \"\" \"mvts " + roff_escape(version) + "\" \"User Commands\"\n";
  s += ".SH NAME\nmvts \\- VARMA and ARFIMA models of multivariate and long\\-memory time series\n";
  s += ".SH SYNOPSIS\n";
  std::string synopsis;
  for (const std::string& line : synopsis_lines()) synopsis += line + "\n";
  s += verbatim(synopsis);
  for (const HelpBlock& b : help_blocks()) {
    s += ".SH " + std::string(b.heading) + "\n";
    if (std::string_view(b.heading) == "DESCRIPTION") {
      s += ".B mvts\ncalls the registered functions of the modules orvmvtsa.so (simulation, "
           "covariances, likelihoods and fits of VARMA, ARFIMA and unobserved\\-components "
           "models) and orvmvtst.so (their forecasts, residuals and standard errors) with the values given on the command line or in a script, and prints "
           "their results.\n.PP\n";
    }
    s += verbatim(b.text);
    if (std::string_view(b.heading) == "DESCRIPTION") {
      s += ".SH OPTIONS\n"
           ".TP\n\\fB\\-\\-format\\fR table|csv|json\nThe output format of calls and scripts.\n"
           ".TP\n.B \\-\\-keep\\-going\nRun the rest of a script after a call that failed.\n"
           ".TP\n.B \\-\\-help\nThe general help (as mvts help).\n"
           ".TP\n.B \\-\\-version\nThe version of mvts.\n";
    }
  }
  s += ".SH FUNCTIONS\n";
  for (const FunctionDoc& f : catalog()) s += function_section(f);
  s += ".SH ENVIRONMENT\n"
       ".TP\n.B MVTS_MODULE_PATH\nDirectories (separated by colons) searched for the modules "
       "before the directory of the host library libmvtshost.so and its subdirectory mvts.\n"
       ".TP\n.B MVTS_PYTHON\nThe Python interpreter that mvts study runs (by default the one "
       "the Python package was built for).\n";
  s += ".SH FILES\n.TP\n.I <libdir>/mvts/orvmvtsa.so\nThe module of the twelve functions.\n"
       ".TP\n.I <libdir>/mvts/orvmvtst.so\nThe statistics module: forecasts, residuals and "
       "standard errors.\n"
       ".TP\n.I <libdir>/mvts/orvnlbrg.so\nThe optimizer module of the two fits.\n";
  s += ".SH SEE ALSO\nmvts help study (the study file), and in Python: import mvts; help(mvts).\n";
  return s;
}

std::string bash_completion() {
  std::string functions, cases;
  for (const FunctionDoc& f : catalog()) {
    if (!functions.empty()) functions += ' ';
    functions += lower(f.name);
    std::string inputs;
    for (const InputDoc& in : f.inputs) {
      if (!inputs.empty()) inputs += ' ';
      inputs += in.name;
    }
    cases += "    " + std::string(f.name) + ") inputs=\"" + inputs + "\" ;;\n";
  }
  return R"(# bash completion for mvts, written by `mvts --bash-completion` from the
# catalogue that mvts help reads: commands, function names (in the letter
# case typed) and each function's inputs as NAME=.
_mvts() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local functions=")" + functions + R"("
  local command="" word i inputs=""
  COMPREPLY=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      --format) [[ ${COMP_WORDS[i+1]} == = ]] && ((i += 2)) || ((i += 1)) ;;
      -*) ;;
      *) command=$word; break ;;
    esac
  done
  # --format VALUE and --format=VALUE (readline splits at the '=')
  if [[ $prev == --format || ($prev == = && ${COMP_WORDS[COMP_CWORD-2]} == --format) ]]; then
    COMPREPLY=($(compgen -W "table csv json" -- "$cur"))
    return 0
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "--format --keep-going --help --version" -- "$cur"))
    return 0
  fi
  if [[ -z $command ]]; then
    if [[ $cur == *[A-Z]* ]]; then
      COMPREPLY=($(compgen -W "${functions^^}" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$functions run list help study" -- "$cur"))
    fi
    return 0
  fi
  case $command in
    run) COMPREPLY=($(compgen -f -- "$cur")); return 0 ;;
    study) COMPREPLY=($(compgen -f -W "--workers --scheduler --out" -- "$cur")); return 0 ;;
    help)
      if [[ $cur == *[A-Z]* ]]; then
        COMPREPLY=($(compgen -W "${functions^^}" -- "$cur"))
      else
        COMPREPLY=($(compgen -W "$functions study" -- "$cur"))
      fi
      return 0 ;;
    list) return 0 ;;
  esac
  # a value after NAME= (readline splits at the '='): @file completes a file
  if [[ $cur == @* ]]; then
    COMPREPLY=($(compgen -f -P @ -- "${cur#@}"))
    return 0
  fi
  [[ $prev == = || $cur == = ]] && return 0
  case ${command^^} in
)" + cases + R"(    *) return 0 ;;
  esac
  COMPREPLY=($(compgen -W "$inputs" -S = -- "$cur"))
  compopt -o nospace 2>/dev/null
  return 0
}
complete -F _mvts mvts
)";
}

}  // namespace mvts::cli
