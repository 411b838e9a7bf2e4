// The manual page as roff: text from the catalogue never becomes a request
// or an escape, and options keep their hyphen-minus.  (scripts/install_test.sh
// renders the installed page with man -l and checks it for warnings.)
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "cli/man.hpp"
#include "host/host.hpp"

namespace {

using mvts::cli::man_page;
using mvts::cli::roff_escape;

TEST(RoffEscape, GuardsControlLinesBackslashesAndHyphens) {
  const std::pair<const char*, const char*> cases[] = {
      {"plain text", "plain text"},
      {".. Gamma(L)", "\\&.. Gamma(L)"},          // a line starting with '.' is a request
      {"'quoted", "\\&'quoted"},                  // so is one starting with '\''
      {"a\n.b\n'c\nd.e", "a\n\\&.b\n\\&'c\nd.e"},  // at every line start, not inside a line
      {"C:\\path\\n", "C:\\epath\\en"},           // a backslash is printed, never an escape
      {"--format -0.5", "\\-\\-format \\-0.5"},   // hyphen-minus, not a typographic hyphen
      {"", ""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(roff_escape(in), want) << in;
}

TEST(ManPage, EveryControlLineIsAKnownRequest) {
  const std::set<std::string> requests = {".TH", ".SH", ".SS", ".TP", ".PP", ".B", ".I",
                                          ".nf", ".fi", ".br", ".\\\""};
  std::istringstream page(man_page(mvts::version()));
  std::string line;
  int lines = 0;
  while (std::getline(page, line)) {
    ++lines;
    if (line.empty() || (line[0] != '.' && line[0] != '\'')) continue;
    const std::string request = line.substr(0, line.find(' '));
    EXPECT_TRUE(requests.count(request)) << "line " << lines << ": " << line;
  }
  EXPECT_GT(lines, 100);
}

TEST(ManPage, HeaderCarriesTheVersion) {
  const std::string page = man_page("9.8.7");
  EXPECT_NE(page.find(".TH MVTS 1 \"\" \"mvts 9.8.7\" \"User Commands\"\n"), std::string::npos);
}

}  // namespace
