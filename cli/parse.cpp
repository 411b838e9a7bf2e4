#include "cli/parse.hpp"
#include "cli/summary.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <set>

#include "cli/lexical.hpp"
#include "host/catalog.hpp"

namespace mvts::cli {
namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kMaxDim = std::numeric_limits<std::int32_t>::max();

// Accepted decimal form: [+-] digits [. digits] [(e|E) [+-] digits], at
// least one digit in the mantissa.
bool is_decimal(std::string_view t) {
  auto digit = [&](std::size_t i) { return i < t.size() && t[i] >= '0' && t[i] <= '9'; };
  std::size_t i = 0, mantissa = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  for (; digit(i); ++i) ++mantissa;
  if (i < t.size() && t[i] == '.')
    for (++i; digit(i); ++i) ++mantissa;
  if (mantissa == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
  }
  return i == t.size();
}

std::string join(const std::vector<std::string>& v, const char* sep) {
  std::string s;
  for (std::size_t i = 0; i < v.size(); ++i) s += (i ? sep : "") + v[i];
  return s;
}

Matrix build_matrix(const std::vector<std::vector<double>>& rows, const std::string& what) {
  if (std::int64_t(rows.size()) > kMaxDim || std::int64_t(rows[0].size()) > kMaxDim)
    throw UsageError(what + " has more rows or columns than a matrix can hold");
  const std::size_t cols = rows[0].size();
  Matrix m(std::int32_t(rows.size()), std::int32_t(cols));
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = 0; j < cols; ++j) m.data[i * cols + j] = rows[i][j];
  return m;
}

}  // namespace

bool is_identifier(std::string_view s) {
  if (s.empty()) return false;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!alpha(s[0])) return false;
  for (char c : s)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

std::optional<double> parse_number(std::string_view token) {
  if (token == ".") return kMissing;
  if (same_name(token, "nan")) return kMissing;
  if (same_name(token, "inf")) return HUGE_VAL;
  if (same_name(token, "-inf")) return -HUGE_VAL;
  if (!is_decimal(token)) return std::nullopt;
  // from_chars reads the decimal correctly rounded, as strtod does, without
  // a copy of the token; it takes no leading '+'.
  std::string_view digits = token[0] == '+' ? token.substr(1) : token;
  double x = 0.0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), x);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the largest double, or below the smallest subnormal: strtod
    // says which (an infinity, or 0 and the subnormals it rounds to).
    x = std::strtod(std::string(digits).c_str(), nullptr);
  } else if (ec != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  // A decimal beyond the largest double is refused rather than read as an
  // infinity, which would silently turn a typed number into a missing value.
  // One below the smallest subnormal reads as zero, as in every C reader.
  if (std::isinf(x)) return std::nullopt;
  return x;
}

std::string refused_number(std::string_view token) {
  if (token.empty() || is_blank(token[0]) || parse_number(token)) return {};
  const std::string s(token);
  char* end = nullptr;
  (void)std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return {};  // not a number in any form
  if (is_decimal(token))
    return "beyond the largest number a double holds (about 1.8e308); a missing value is "
           "written ., nan, inf or -inf";
  std::string_view digits = token;
  if (digits[0] == '+' || digits[0] == '-') digits.remove_prefix(1);
  if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    return "hexadecimal numbers are not read; write the number in decimal";
  return "not a number mvts reads; a missing value is written ., nan, inf or -inf";
}

std::optional<Matrix> parse_matrix(std::string_view text) {
  std::vector<std::vector<double>> rows;
  std::string problem;  // the first structural fault, reported only if all elements are numbers
  std::string refused;  // the first element in a refused number form
  bool any = false;
  const std::vector<std::string_view> row_texts = split(text, ';');
  for (std::size_t r = 0; r < row_texts.size(); ++r) {
    std::vector<double> row;
    const std::vector<std::string_view> parts = split(row_texts[r], ',');
    for (std::string_view part : parts) {
      const std::vector<std::string_view> tokens = split_blanks(part);
      if (tokens.empty() && parts.size() > 1 && problem.empty())
        problem = "row " + std::to_string(r + 1) + " has an empty element between commas";
      for (std::string_view t : tokens) {
        std::optional<double> x = parse_number(t);
        if (!x) {
          std::string why = refused_number(t);
          if (why.empty()) return std::nullopt;  // a word: the text is a character value
          if (refused.empty()) refused = in_quotes(t) + ": " + why;
          x = kMissing;
        }
        row.push_back(*x);
        any = true;
      }
    }
    rows.push_back(std::move(row));
  }
  if (!any) return std::nullopt;
  if (!refused.empty()) throw UsageError(refused);
  while (rows.back().empty()) rows.pop_back();  // a trailing ';' ends the last row
  for (std::size_t r = 0; r < rows.size() && problem.empty(); ++r) {
    if (rows[r].empty())
      problem = "row " + std::to_string(r + 1) + " is empty";
    else if (rows[r].size() != rows[0].size())
      problem = "row " + std::to_string(r + 1) + " has " + std::to_string(rows[r].size()) +
                " elements where row 1 has " + std::to_string(rows[0].size());
  }
  if (!problem.empty()) throw UsageError("matrix " + in_quotes(text) + ": " + problem);
  return build_matrix(rows, "matrix " + in_quotes(text));
}

std::string read_file(const std::string& path) {
  using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
  File f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw UsageError("cannot read " + printable(path) + ": " + std::strerror(errno));
  std::string content;
  char buf[1 << 16];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) content.append(buf, got);
  if (std::ferror(f.get())) throw UsageError("cannot read " + printable(path) + ": " + std::strerror(errno));
  return content;
}

Value parse_value(std::string_view text, const Variables* vars, ColumnNames* names) {
  if (trim(text).empty()) return Value::no_value();
  if (text[0] == '$') {
    const std::string name(text.substr(1));
    if (!vars) throw UsageError(in_quotes(text) + ": variables exist only in scripts (mvts run)");
    if (!is_identifier(name)) throw UsageError(in_quotes(text) + " is not a variable name");
    auto it = vars->find(name);
    if (it == vars->end()) throw UsageError("variable $" + name + " is not set");
    return it->second ? Value::matrix(*it->second) : Value::no_value();
  }
  if (text[0] == '@') {
    if (text.size() == 1) throw UsageError("\"@\" needs a file name");
    return Value::matrix(read_matrix_file(std::string(text.substr(1)), names));
  }
  if (std::optional<Matrix> m = parse_matrix(text)) return Value::matrix(std::move(*m));
  return Value::character(std::string(text));
}

std::vector<Word> split_words(std::string_view line) {
  std::vector<Word> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  for (;;) {
    while (i < n && is_blank(line[i])) ++i;
    if (i == n || line[i] == '#') return words;
    Word w;
    while (i < n && !is_blank(line[i])) {
      const char c = line[i];
      if (c == '"' || c == '\'') {
        const std::size_t open = i++;
        while (i < n && line[i] != c) {
          if (c == '"' && line[i] == '\\' && i + 1 < n && (line[i + 1] == '"' || line[i + 1] == '\\'))
            ++i;
          w.text += line[i++];
        }
        if (i == n)
          throw UsageError(std::string("unterminated ") + c + " quote at column " +
                           std::to_string(open + 1));
        ++i;
      } else {
        if (c == '=' && w.eq == std::string::npos) w.eq = w.text.size();
        w.text += c;
        ++i;
      }
    }
    words.push_back(std::move(w));
  }
}

BoundCall bind_arguments(const Signature& f, const std::vector<Word>& words) {
  BoundCall b;
  b.function = f.name;
  b.slots.assign(std::size_t(f.max_inputs), std::nullopt);
  const std::string inputs = "its inputs: " + join(f.input_names, ", ");
  std::size_t next = 0;
  bool named_seen = false;
  for (const Word& w : words) {
    std::size_t slot = 0;
    std::string value;
    const std::string_view name =
        w.eq == std::string::npos ? std::string_view() : std::string_view(w.text).substr(0, w.eq);
    if (is_identifier(name)) {
      slot = f.input_names.size();
      for (std::size_t k = 0; k < f.input_names.size(); ++k)
        if (same_name(f.input_names[k], name)) slot = k;
      if (slot == f.input_names.size())
        throw UsageError(f.name + " has no input named \"" + std::string(name) + "\" (" + inputs + ")");
      value = w.text.substr(w.eq + 1);
      named_seen = true;
    } else {
      if (named_seen)
        throw UsageError("value " + in_quotes(w.text) + " of " + f.name +
                         " is given by position after an input given by name; give it by name (" +
                         inputs + ")");
      if (next >= b.slots.size())
        throw UsageError(f.name + " takes at most " + std::to_string(f.max_inputs) + " inputs (" +
                         inputs + "); " + in_quotes(w.text) + " is one too many");
      slot = next++;
      value = w.text;
    }
    if (b.slots[slot])
      throw UsageError("input " + f.input_names[slot] + " of " + f.name + " is given twice");
    b.slots[slot] = std::move(value);
  }
  return b;
}

namespace {

// "a, b ,c =" at the start of a line: the assigned names, and where the
// right-hand side starts.  nullopt when the line is not an assignment.
std::optional<std::pair<std::vector<std::string>, std::size_t>> assignment_prefix(std::string_view s) {
  std::vector<std::string> names;
  std::size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && is_blank(s[i])) ++i;
  };
  for (;;) {
    skip();
    const std::size_t start = i;
    while (i < s.size() && !is_blank(s[i]) && s[i] != ',' && s[i] != '=') ++i;
    if (!is_identifier(s.substr(start, i - start))) return std::nullopt;
    names.emplace_back(s.substr(start, i - start));
    skip();
    if (i < s.size() && s[i] == ',') {
      ++i;
      continue;
    }
    if (i < s.size() && s[i] == '=') return std::make_pair(std::move(names), i + 1);
    return std::nullopt;
  }
}

bool is_keyword(const Word& w, const char* keyword) { return same_name(w.text, keyword); }

// The variable names after a print, stats or write keyword.
std::vector<std::string> variable_names(const std::vector<Word>& words, std::size_t from,
                                        std::size_t to, const char* keyword) {
  std::vector<std::string> names;
  for (std::size_t k = from; k < to; ++k) {
    std::string_view name = words[k].text;
    if (!name.empty() && name[0] == '$') name.remove_prefix(1);  // "print $y" means "print y"
    if (!is_identifier(name)) throw UsageError(std::string(keyword) + ": " + in_quotes(words[k].text) +
                                               " is not a variable name");
    names.emplace_back(name);
  }
  return names;
}

}  // namespace

std::optional<Statement> parse_statement(std::string_view line, const SignatureLookup& lookup) {
  Statement st;
  std::vector<Word> words;
  if (auto lhs = assignment_prefix(line)) {
    st.names = std::move(lhs->first);
    std::set<std::string> distinct(st.names.begin(), st.names.end());
    if (distinct.size() != st.names.size()) throw UsageError("a name is assigned twice on one line");
    words = split_words(line.substr(lhs->second));
    if (words.empty()) throw UsageError("nothing to assign after \"=\"");
  } else {
    words = split_words(line);
    if (words.empty()) return std::nullopt;  // blank or comment
    const Word& head = words[0];
    if (is_keyword(head, "print") || is_keyword(head, "stats")) {
      st.kind = is_keyword(head, "print") ? Statement::Kind::kPrint : Statement::Kind::kStats;
      if (words.size() < 2) throw UsageError(head.text + " needs at least one variable name");
      st.names = variable_names(words, 1, words.size(), is_keyword(head, "print") ? "print" : "stats");
      return st;
    }
    if (is_keyword(head, "write")) {
      st.kind = Statement::Kind::kWrite;
      if (words.size() != 3) throw UsageError("write needs a variable name and a file: write NAME PATH");
      st.names = variable_names(words, 1, 2, "write");
      st.text = words[2].text;
      if (st.text.empty()) throw UsageError("write needs a file name");
      return st;
    }
    if (is_keyword(head, "let")) {
      st.kind = Statement::Kind::kLet;
      if (words.size() == 2 && words[1].eq != std::string::npos) {
        st.names.push_back(words[1].text.substr(0, words[1].eq));
        st.text = words[1].text.substr(words[1].eq + 1);
      } else if (words.size() == 4 && words[2].text == "=" && words[2].eq == 0) {
        st.names.push_back(words[1].text);
        st.text = words[3].text;
      } else {
        throw UsageError("let needs a name and one value: let NAME = VALUE");
      }
      if (!is_identifier(st.names[0])) throw UsageError("let: " + in_quotes(st.names[0]) +
                                                        " is not a variable name");
      return st;
    }
  }
  // `summary FIT ...` (assigned or not): the call, summarised.
  if (words.size() >= 2 && is_keyword(words[0], "summary") && words[0].eq == std::string::npos) {
    st.summary = true;
    words.erase(words.begin());
  }
  const std::string& fname = words[0].text;
  std::optional<Signature> sig = lookup(fname);
  if (!sig) {
    std::string hint = " (mvts list shows the functions";
    if (!st.names.empty()) hint += "; to store a value write: let NAME = VALUE";
    throw UsageError("unknown function " + in_quotes(fname) + hint + ")");
  }
  if (std::int64_t(st.names.size()) > sig->outputs)
    throw UsageError(sig->name + " has " + std::to_string(sig->outputs) + " output" +
                     (sig->outputs == 1 ? "" : "s") + " (" + join(sig->output_names, ", ") + "); " +
                     std::to_string(st.names.size()) + " names are assigned");
  if (st.summary && !is_summarised_fit(sig->name))
    throw UsageError("summary describes a fit (FARMAFIT, FARMAFITMEAN or VARMAFIT), not " +
                     sig->name);
  st.kind = Statement::Kind::kCall;
  st.call = bind_arguments(*sig, std::vector<Word>(words.begin() + 1, words.end()));
  return st;
}

namespace {

// A value text that names a variable must name one set by an earlier line.
void check_value(const std::string& text, const std::set<std::string>& known) {
  if (!text.empty() && text[0] == '$') {
    const std::string name = text.substr(1);
    if (!is_identifier(name)) throw UsageError(in_quotes(text) + " is not a variable name");
    if (!known.count(name)) throw UsageError("variable $" + name + " is used before any line sets it");
    return;
  }
  if (!text.empty() && text[0] == '@') return;  // the file may be written by an earlier line
  (void)parse_value(text, nullptr);              // throws on a malformed matrix
}

}  // namespace

std::vector<Statement> parse_script(std::string_view text, const SignatureLookup& lookup,
                                    std::vector<std::string>* errors) {
  std::vector<Statement> out;
  std::set<std::string> known;
  int line_no = 0;
  for (std::string_view line : split(without_bom(text), '\n')) {
    ++line_no;
    try {
      std::optional<Statement> parsed = parse_statement(line, lookup);
      if (!parsed) continue;
      Statement& st = *parsed;
      st.line = line_no;
      switch (st.kind) {
        case Statement::Kind::kCall:
          for (const auto& slot : st.call.slots)
            if (slot) check_value(*slot, known);
          break;
        case Statement::Kind::kLet:
          check_value(st.text, known);
          break;
        default:
          for (const std::string& name : st.names)
            if (!known.count(name)) throw UsageError("variable " + name + " is used before any line sets it");
      }
      if (st.kind == Statement::Kind::kCall || st.kind == Statement::Kind::kLet)
        known.insert(st.names.begin(), st.names.end());
      out.push_back(std::move(st));
    } catch (const UsageError& e) {
      errors->push_back(std::to_string(line_no) + ": " + e.what());
    } catch (const std::bad_alloc&) {
      throw LineOutOfMemory(line_no);
    }
  }
  return out;
}

}  // namespace mvts::cli
