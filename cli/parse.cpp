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

#include "host/catalog.hpp"

namespace mvts::cli {
namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kMaxDim = std::numeric_limits<std::int32_t>::max();

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = s.find(sep, start);
    if (end == std::string_view::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, end - start));
    start = end + 1;
  }
}

std::vector<std::string_view> split_blanks(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_blank(s[i])) ++i;
    std::size_t start = i;
    while (i < s.size() && !is_blank(s[i])) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

// A UTF-8 byte-order mark, skipped at the start of a script or a data file.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view without_bom(std::string_view s) {
  if (s.substr(0, kByteOrderMark.size()) == kByteOrderMark) s.remove_prefix(kByteOrderMark.size());
  return s;
}

// The code point of the UTF-8 sequence at the start of `s` and its length;
// false for a byte that does not start a valid sequence (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, or a
// sequence cut short).
bool utf8_char(std::string_view s, std::size_t* length, std::uint32_t* code) {
  const unsigned char c = static_cast<unsigned char>(s[0]);
  std::size_t n;
  std::uint32_t cp, least;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, cp = c & 0x1F, least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, cp = c & 0x0F, least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, cp = c & 0x07, least = 0x10000;
  } else {
    return false;
  }
  if (s.size() < n) return false;
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  *length = n;
  *code = cp;
  return true;
}

// Code points that a terminal may act on or that hide or reorder the text
// around them: C1 controls, the bidirectional marks, embeddings, overrides
// and isolates, the line and paragraph separators, the byte-order mark.
bool acts_on_display(std::uint32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

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

std::string in_quotes(std::string_view s) {
  constexpr std::size_t kShown = 60;
  std::string_view t = s;
  if (t.size() > kShown) {
    std::size_t cut = kShown;
    // Back off over continuation bytes so that no character is split.
    for (int k = 0; k < 3 && cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80; ++k)
      --cut;
    t = s.substr(0, cut);
  }
  std::string q(1, '"');
  q += printable(t);
  q += t.size() < s.size() ? "...\"" : "\"";
  return q;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char hex[12];
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t n = 1;
    std::uint32_t cp = 0;
    if (c >= 0x20 && c < 0x7F) {
      if (c == '"' || c == '\\') out += '\\';
      out += char(c);
    } else if (c == '\t' || c == '\n' || c == '\r') {
      out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
    } else if (c >= 0x80 && utf8_char(text.substr(i), &n, &cp)) {
      if (acts_on_display(cp)) {
        std::snprintf(hex, sizeof hex, "\\u%04X", unsigned(cp));
        out += hex;
      } else {
        out.append(text.substr(i, n));
      }
    } else {
      n = 1;
      std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(c));
      out += hex;
    }
    i += n;
  }
  return out;
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

void NumberFileScreen::feed(std::string_view chunk, const std::string& name) {
  for (const char c : chunk) {
    if (c == '\0')
      throw UsageError(printable(name) + ":" + std::to_string(line_) +
                       ": a NUL byte: this is not a text file of numbers");
    if (c == '\n') {
      ++line_;
      comment_ = false;
      token_ = 0;
    } else if (comment_) {
      continue;
    } else if (c == '#') {
      comment_ = true;
      token_ = 0;
    } else if (is_blank(c) || c == ',') {
      token_ = 0;
    } else if (++token_ > kLongestNumber) {
      throw UsageError(printable(name) + ":" + std::to_string(line_) + ": a field of more than " +
                       std::to_string(kLongestNumber) +
                       " bytes, longer than any number is written: this is not a text file of "
                       "numbers");
    }
  }
}

namespace {

// The fields of a CSV line, split at commas outside double quotes.
std::vector<std::string_view> split_csv(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || (line[i] == ',' && !quoted)) {
      out.push_back(line.substr(start, i - start));
      start = i + 1;
    } else if (line[i] == '"') {
      quoted = !quoted;
    }
  }
  return out;
}

// A field without its blanks and, when it is written "...", without its
// quotes (a doubled "" inside standing for one ").
std::string unquoted(std::string_view field) {
  field = trim(field);
  if (field.size() < 2 || field.front() != '"' || field.back() != '"') return std::string(field);
  std::string out;
  for (std::size_t i = 1; i + 1 < field.size(); ++i) {
    out += field[i];
    if (field[i] == '"' && field[i + 1] == '"') ++i;
  }
  return out;
}

// A first line of column names, as R's write.csv, pandas' to_csv and
// spreadsheets write them: no field is a number or a missing value, and
// some field is a name.  (An empty first name heads an index column.)
bool is_header(const std::vector<std::string>& fields) {
  bool name = false;
  for (const std::string& f : fields) {
    if (f.empty()) continue;
    if (f == "NA" || f == "." || parse_number(f) || !refused_number(f).empty()) return false;
    name = true;
  }
  return name;
}

// Reads a file of numbers line by line into one row-major block: a line of
// column names first (is_header) is read past, an index column under an
// empty first name left out.
class MatrixFileLines {
 public:
  explicit MatrixFileLines(const std::string& name) : shown_(printable(name)) {}

  void line(std::string_view line) {
    ++line_no_;
    if (line_no_ == 1) line = without_bom(line);
    if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = trim(line);
    if (line.empty()) return;
    const bool csv = line.find(',') != std::string_view::npos;
    if (rows_ == 0 && !header_) {
      std::vector<std::string> names;
      for (std::string_view f : csv ? split_csv(line) : split_blanks(line)) names.push_back(unquoted(f));
      if (is_header(names)) {
        header_ = true;
        index_column_ = names.size() > 1 && names[0].empty();
        return;
      }
    }
    std::int64_t count = 0;
    auto field = [&](std::string_view f) {
      if (index_column_ && count++ == 0) return;
      f = trim(f);
      if (!f.empty() && f.front() == '"') {
        quoted_ = unquoted(f);
        f = quoted_;
      }
      values_.push_back(number(f));
    };
    const std::size_t before = values_.size();
    if (csv) {
      bool quoted = false;
      std::size_t start = 0;
      for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || (line[i] == ',' && !quoted)) {
          field(line.substr(start, i - start));
          start = i + 1;
        } else if (line[i] == '"') {
          quoted = !quoted;
        }
      }
    } else {
      for (std::string_view f : split_blanks(line)) field(f);
    }
    const std::int64_t width = std::int64_t(values_.size() - before);
    if (rows_ > 0 && width != cols_)
      throw UsageError(shown_ + ":" + std::to_string(line_no_) + ": " + std::to_string(width) +
                       " fields where the first row has " + std::to_string(cols_));
    if (rows_ == 0) cols_ = width;
    ++rows_;
  }

  Matrix finish() {
    if (rows_ == 0) throw UsageError(shown_ + " holds no numbers");
    if (rows_ > kMaxDim || cols_ > kMaxDim)
      throw UsageError(shown_ + " has more rows or columns than a matrix can hold");
    return Matrix(std::int32_t(rows_), std::int32_t(cols_), std::move(values_));
  }

 private:
  double number(std::string_view f) const {
    if (f.empty() || f == "NA") return kMissing;
    if (std::optional<double> x = parse_number(f)) return *x;
    const std::string why = refused_number(f);
    throw UsageError(shown_ + ":" + std::to_string(line_no_) + ": " + in_quotes(f) +
                     (why.empty() ? rows_ == 0 && !header_
                                        ? " is not a number (a line of column names holds no "
                                          "number)"
                                        : " is not a number"
                                  : ": " + why));
  }

  std::string shown_;
  std::vector<double> values_;
  std::int64_t rows_ = 0, cols_ = 0;
  std::size_t line_no_ = 0;
  bool header_ = false;        // a line of column names came first
  bool index_column_ = false;  // its first name is empty: the first column labels the rows
  std::string quoted_;         // the field last read from quotes
};

}  // namespace

Matrix parse_matrix_file(std::string_view content, const std::string& name) {
  NumberFileScreen().feed(content, name);
  MatrixFileLines lines(name);
  for (std::string_view line : split(content, '\n')) lines.line(line);
  return lines.finish();
}

Matrix read_matrix_file(const std::string& path) {
  // Read in blocks, each screened as it comes (a stream that is no file of
  // numbers, /dev/zero or a binary file, is refused at its first block) and
  // its complete lines read at once: what is held is the numbers, not the
  // text.
  using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
  File f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw UsageError("cannot read " + printable(path) + ": " + std::strerror(errno));
  NumberFileScreen screen;
  MatrixFileLines lines(path);
  std::string pending;  // a line not yet complete
  std::vector<char> buf(std::size_t(1) << 20);
  std::size_t got;
  while ((got = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) {
    std::string_view chunk(buf.data(), got);
    screen.feed(chunk, path);
    std::size_t start = 0;
    for (std::size_t nl = chunk.find('\n'); nl != std::string_view::npos;
         nl = chunk.find('\n', start)) {
      if (pending.empty()) {
        lines.line(chunk.substr(start, nl - start));
      } else {
        pending.append(chunk.substr(start, nl - start));
        lines.line(pending);
        pending.clear();
      }
      start = nl + 1;
    }
    pending.append(chunk.substr(start));
  }
  if (std::ferror(f.get())) throw UsageError("cannot read " + printable(path) + ": " + std::strerror(errno));
  if (!pending.empty()) lines.line(pending);
  return lines.finish();
}

void write_matrix_file(const std::string& path, const Matrix& m) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "w"), &std::fclose);
  if (!f) throw ResourceError("cannot write " + printable(path) + ": " + std::strerror(errno));
  // Rows gathered in blocks of about 64 KiB, numbers as the shortest text
  // that reads back as the same double.
  constexpr std::size_t kBlock = std::size_t(1) << 16, kLongest = 32;
  std::vector<char> block(kBlock + kLongest + 4);
  std::size_t n = 0;
  int err = 0;  // the first failure's errno
  auto put = [&]() {
    errno = 0;
    if (std::fwrite(block.data(), 1, n, f.get()) != n && err == 0) err = errno ? errno : EIO;
    n = 0;
  };
  for (std::int64_t i = 0; i < m.rows && err == 0; ++i) {
    for (std::int64_t j = 0; j < m.cols; ++j) {
      if (n >= kBlock) put();
      if (j) block[n++] = ',';
      const double x = m.at(i, j);
      if (std::isnan(x) || std::isinf(x)) {
        block[n++] = 'N';
        block[n++] = 'A';
      } else {
        n = std::size_t(std::to_chars(block.data() + n, block.data() + block.size(), x).ptr -
                        block.data());
      }
    }
    block[n++] = '\n';
  }
  if (n > 0 && err == 0) put();
  // Buffered data reaches the file only when it is closed: the reason of a
  // failing close is the one to report.
  errno = 0;
  if (std::fclose(f.release()) != 0 && err == 0) err = errno ? errno : EIO;
  if (err != 0) throw ResourceError("cannot write " + printable(path) + ": " + std::strerror(err));
}

Value parse_value(std::string_view text, const Variables* vars) {
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
    return Value::matrix(read_matrix_file(std::string(text.substr(1))));
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
