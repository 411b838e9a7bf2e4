// mvts: the command line over the host library.
//
//   mvts FUNCTION [VALUE | NAME=VALUE ...] [--format table|csv|json]
//   mvts run FILE|-  [--format ...] [--keep-going]
//   mvts list
//   mvts help [FUNCTION | study]
//   mvts --version
//   mvts study FILE.json [--workers N | --scheduler ADDRESS] [--out FILE.csv]
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "cli/interrupt.hpp"
#include "host/catalog.hpp"
#include "cli/format.hpp"
#include "cli/help.hpp"
#include "cli/man.hpp"
#include "cli/parse.hpp"
#include "cli/run.hpp"
#include "cli/study.hpp"
#include "host/host.hpp"

namespace {

using namespace mvts::cli;

int usage_error(const std::string& problem) {
  std::cout.flush();
  std::cerr << "mvts: " << problem << "\n";
  return kExitUsage;
}

// The exit status once standard output is flushed: a write to it that
// failed (a full disk, a closed pipe) makes the run fail with the reason.
int finish(int status) {
  errno = 0;
  std::cout.flush();
  if (std::cout) return status;
  const int err = errno;
  std::cerr << "mvts: cannot write standard output" << (err ? std::string(": ") + std::strerror(err) : "")
            << "\n";
  return kExitFailed;
}

struct Options {
  std::optional<Format> format;
  bool keep_going = false;
  bool help = false;
  bool version = false;
  // What the build generates from the catalogue (not in the help):
  bool man = false;              // --man: the manual page mvts(1)
  bool bash_completion = false;  // --bash-completion: the completion script
  std::vector<std::string> words;  // the command and its arguments
};

// Separates the options (anywhere before "--") from the other words.
std::optional<std::string> parse_options(int argc, char** argv, Options* o) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (options_done || a.size() < 2 || a.compare(0, 2, "--") != 0) {
      o->words.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
    } else if (a == "--format" || a.compare(0, 9, "--format=") == 0) {
      std::string name;
      if (a == "--format") {
        if (i + 1 >= argc) return "--format needs a value: table, csv or json";
        name = argv[++i];
      } else {
        name = a.substr(9);
      }
      o->format = parse_format(name);
      if (!o->format) return "unknown format " + in_quotes(name) + " (table, csv or json)";
    } else if (a == "--keep-going") {
      o->keep_going = true;
    } else if (a == "--help") {
      o->help = true;
    } else if (a == "--version") {
      o->version = true;
    } else if (a == "--man") {
      o->man = true;
    } else if (a == "--bash-completion") {
      o->bash_completion = true;
    } else {
      return "unknown option " + in_quotes(a);
    }
  }
  return std::nullopt;
}

int run(int argc, char** argv) {
  // mvts study has options of its own, read by the study runner.
  if (argc >= 2 && std::string(argv[1]) == "study") return exec_study({argv + 2, argv + argc});
  Options o;
  if (std::optional<std::string> problem = parse_options(argc, argv, &o)) return usage_error(*problem);
  if (o.version || o.man || o.bash_completion) {
    if (!o.words.empty() || o.format || o.keep_going || o.help || o.version + o.man + o.bash_completion > 1)
      return usage_error("--version, --man and --bash-completion take no other arguments");
    if (o.version) std::cout << "mvts " << mvts::version() << "\n";
    if (o.man) std::cout << man_page(mvts::version());
    if (o.bash_completion) std::cout << bash_completion();
    return finish(kExitOk);
  }
  if (o.help || (!o.words.empty() && o.words[0] == "-h")) {
    std::cout << usage_text();
    return finish(kExitOk);
  }
  if (o.words.empty()) {
    std::cerr << usage_text();
    return kExitUsage;
  }
  const std::string command = o.words[0];
  const std::size_t extra = o.words.size() - 1;
  if (command == "help" || command == "list") {
    if (o.format || o.keep_going) return usage_error("options apply to calls and to mvts run, not to " + command);
    if (command == "list") {
      if (extra) return usage_error("list takes no arguments");
      std::cout << list_text();
      return finish(kExitOk);
    }
    if (extra == 0) {
      std::cout << usage_text();
      return finish(kExitOk);
    }
    if (extra > 1) return usage_error("help takes one function name");
    if (o.words[1] == "study") return exec_study({"--help"});
    const mvts::FunctionDoc* doc = mvts::find_doc(o.words[1]);
    if (!doc) return usage_error("unknown function " + in_quotes(o.words[1]) + " (mvts list shows the functions)");
    std::cout << help_text(*doc);
    return finish(kExitOk);
  }

  std::string script, source;
  if (command == "run") {
    if (extra != 1) return usage_error("run needs one script file, or - for standard input");
    source = o.words[1];
    if (source == "-") {
      script.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
      if (std::cin.bad()) return usage_error("cannot read the script from standard input");
      source = "stdin";
    } else {
      try {
        script = read_file(source);
      } catch (const UsageError& e) {
        return usage_error(e.what());
      }
    }
  } else if (o.keep_going) {
    return usage_error("--keep-going applies to mvts run only");
  }

  std::optional<mvts::Session> session;
  try {
    session.emplace();
  } catch (const std::exception& e) {
    std::cerr << "mvts: cannot load the module: " << e.what() << "\n";
    return kExitFailed;
  }
  Printer printer(o.format.value_or(Format::kTable), std::cout, std::cerr);
  Runner runner(*session, printer);
  int status;
  {
    InterruptGuard guard(*session);
    if (command == "run") {
      status = runner.script(script, source, o.keep_going);
    } else {
      // `mvts summary FIT ...`: the fit's summary instead of its outputs.
      const bool summary = command == "summary" && o.words.size() >= 2;
      const std::string function = summary ? o.words[1] : command;
      std::vector<Word> args;
      for (std::size_t i = summary ? 2 : 1; i < o.words.size(); ++i)
        args.push_back({o.words[i], o.words[i].find('=')});
      status = runner.call(function, args, summary);
    }
  }
  if (interrupted()) {
    std::cout.flush();
    std::cerr << "mvts: interrupted\n";
    return kExitInterrupted;
  }
  return finish(status);
}

}  // namespace

int main(int argc, char** argv) {
  // The module's vector kernels are short loops: BLAS threads only spin
  // (twice the CPU time of a one-off call), and a threaded dot product sums
  // in another order, so results would depend on the machine's cores.  One
  // thread, unless the caller asked for others; the module, which loads the
  // library, is loaded after this.
  setenv("OPENBLAS_NUM_THREADS", "1", 0);
  std::ios::sync_with_stdio(false);
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "mvts: out of memory\n";
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "mvts: internal error: " << e.what() << "\n";
    return kExitFailed;
  }
}
