// Fuzz target: the script and value parser.
//
// Properties checked on every input:
//  - parsing ends as statements or as line errors (an escaping exception
//    other than LineOutOfMemory aborts);
//  - every error message is printable: no control byte, no byte that is not
//    UTF-8, nothing that acts on a terminal;
//  - printable() is reversible (unescaping gives the text back) and its
//    result is printable;
//  - a number that parse_number reads is never also reported as refused.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/catalog.hpp"
#include "cli/parse.hpp"
#include "tests/fuzz/targets.hpp"

namespace mvts::fuzz {
namespace {

using namespace mvts::cli;

std::optional<Signature> lookup(std::string_view name) {
  const mvts::FunctionDoc* d = mvts::find_doc(name);
  if (!d) return std::nullopt;
  Signature s;
  s.name = d->name;
  s.max_inputs = int(d->inputs.size());
  s.outputs = int(d->outputs.size());
  for (const mvts::InputDoc& in : d->inputs) s.input_names.push_back(in.name);
  for (const mvts::OutputDoc& out : d->outputs) s.output_names.push_back(out.name);
  return s;
}

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "fuzz_script: %s: [%s]\n", what, printable(text).c_str());
  std::abort();
}

// Printable ASCII, or a UTF-8 sequence of a code point at or above U+00A0
// that is none of the characters that reorder or hide text.
void expect_printable(std::string_view s, const char* what) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7F) {
      ++i;
      continue;
    }
    if (c < 0xC2 || c > 0xF4) fail(what, s);
    const std::size_t n = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + n > s.size()) fail(what, s);
    std::uint32_t cp = c & (c < 0xE0 ? 0x1F : c < 0xF0 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < n; ++k) {
      const unsigned char b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) fail(what, s);
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < 0xA0 || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
        cp == 0x200E || cp == 0x200F || cp == 0x061C || cp == 0xFEFF || (cp >= 0xD800 && cp <= 0xDFFF))
      fail(what, s);
    i += n;
  }
}

// The inverse of printable().
std::string unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    const char e = s.at(++i);
    if (e == 't') out += '\t';
    else if (e == 'n') out += '\n';
    else if (e == 'r') out += '\r';
    else if (e == '"' || e == '\\') out += e;
    else if (e == 'x') {
      out += char(std::strtoul(std::string(s.substr(i + 1, 2)).c_str(), nullptr, 16));
      i += 2;
    } else if (e == 'u') {
      const unsigned long cp = std::strtoul(std::string(s.substr(i + 1, 4)).c_str(), nullptr, 16);
      i += 4;
      if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
      } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
      }
      out += char(0x80 | (cp & 0x3F));
    } else {
      fail("unknown escape", s);
    }
  }
  return out;
}

}  // namespace

int script_input(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string shown = printable(text);
  expect_printable(shown, "printable() left a byte that is not printable");
  if (unescape(shown) != text) fail("printable() is not reversible", text);
  expect_printable(in_quotes(text), "in_quotes() left a byte that is not printable");

  std::vector<std::string> errors;
  try {
    const std::vector<Statement> statements = parse_script(text, lookup, &errors);
    for (const Statement& st : statements)
      if (st.line < 1) fail("a statement without a line number", text);
  } catch (const LineOutOfMemory&) {
  }
  for (const std::string& e : errors) expect_printable(e, "a script error is not printable");

  // A value: '@' would read a file, so the file reader gets the text itself.
  if (!text.empty() && text[0] != '@') {
    Variables vars;
    vars["y"] = Matrix(1, 1, {1.0});
    try {
      (void)parse_value(text, &vars);
    } catch (const UsageError& e) {
      expect_printable(e.what(), "a value error is not printable");
    }
  }
  try {
    (void)parse_matrix_file(text, "fuzz.csv");
  } catch (const UsageError& e) {
    expect_printable(e.what(), "a data-file error is not printable");
  }

  // Each blank-separated token: read, refused with a reason, or a word.
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\n')) ++i;
    std::size_t j = i;
    while (j < text.size() && text[j] != ' ' && text[j] != '\n') ++j;
    const std::string_view token = text.substr(i, j - i);
    if (!token.empty() && parse_number(token) && !refused_number(token).empty())
      fail("a number read and refused at once", token);
    i = j;
  }
  return 0;
}

}  // namespace mvts::fuzz

#ifdef MVTS_FUZZ_SCRIPT_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return mvts::fuzz::script_input(data, size);
}
#endif
