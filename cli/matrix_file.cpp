#include "cli/matrix_file.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include <sys/stat.h>

#include "cli/lexical.hpp"
#include "cli/number_text.hpp"
#include "cli/parse.hpp"
#include "cli/printable.hpp"

namespace mvts::cli {

void NumberFileScreen::feed(std::string_view chunk, const std::string& name) {
  // What the screen refuses, a NUL byte or a field longer than
  // kLongestNumber, cannot be in a chunk without NUL bytes whose lines are
  // all that short (the first one counted with the field it continues):
  // such a chunk only moves the line count, and its last, incomplete line
  // sets the state for the next chunk.
  if (!std::memchr(chunk.data(), '\0', chunk.size())) {
    std::size_t newlines = 0, start = 0, longest = 0, last = 0;
    for (const char* nl; (nl = static_cast<const char*>(
                              std::memchr(chunk.data() + start, '\n', chunk.size() - start)));) {
      const std::size_t at = std::size_t(nl - chunk.data());
      longest = std::max(longest, at - start + (newlines == 0 ? token_ : 0));
      ++newlines;
      start = last = at + 1;
    }
    if (std::max(longest, chunk.size() - start + (newlines == 0 ? token_ : 0)) <= kLongestNumber) {
      if (newlines > 0) {
        line_ += newlines;
        comment_ = false;
        token_ = 0;
      }
      screen(chunk.substr(last), name);
      return;
    }
  }
  screen(chunk, name);
}

void NumberFileScreen::screen(std::string_view chunk, const std::string& name) {
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

constexpr double kMissingValue = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kLargestDimension = std::numeric_limits<std::int32_t>::max();

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

// Where a comment starts: the first '#' outside double quotes (a column
// name may hold one).
std::size_t comment_start(std::string_view line) {
  if (line.find('"') == std::string_view::npos) return line.find('#');
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == '#' && !quoted) return i;
  }
  return std::string_view::npos;
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
// column names first (is_header) gives the columns their names, an index
// column is left out: the one under an empty first name (pandas' to_csv,
// R's write.csv), or the first column of rows one field longer than the
// line of names (R's write.table).
class MatrixFileLines {
 public:
  explicit MatrixFileLines(const std::string& name) : shown_(printable(name)) {}

  void line(std::string_view line) {
    ++line_no_;
    if (rows_ > 0 && plain_line(line)) return;
    if (line_no_ == 1) line = without_bom(line);
    if (std::size_t hash = comment_start(line); hash != std::string_view::npos) line = line.substr(0, hash);
    line = trim(line);
    if (line.empty()) return;
    const bool csv = line.find(',') != std::string_view::npos;
    if (rows_ == 0 && !header_) {
      std::vector<std::string> names;
      for (std::string_view f : csv ? split_csv(line) : split_blanks(line)) names.push_back(unquoted(f));
      if (is_header(names)) {
        header_ = true;
        header_line_ = line_no_;
        index_column_ = names.size() > 1 && names[0].empty();
        names_.assign(names.begin() + (index_column_ ? 1 : 0), names.end());
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
    end_row(std::int64_t(values_.size() - before), before);
  }

  std::size_t count() const { return values_.size(); }

  // Room for `n` numbers in all, asked for once the first block shows how
  // densely the file holds them: the block of numbers then grows without
  // the copies of doubling.
  void expect(std::size_t n) {
    if (n > values_.size()) values_.reserve(n);
  }

  Matrix finish(ColumnNames* names) {
    if (rows_ == 0) throw UsageError(shown_ + " holds no numbers");
    if (rows_ > kLargestDimension || cols_ > kLargestDimension)
      throw UsageError(shown_ + " has more rows or columns than a matrix can hold");
    // An estimate far above the count is given back.
    if (values_.capacity() - values_.size() > values_.size() / 8) values_.shrink_to_fit();
    if (names) *names = std::move(names_);
    return Matrix(std::int32_t(rows_), std::int32_t(cols_), std::move(values_));
  }

 private:
  // A row of `width` values read from values_[before]: the first row fixes
  // the width (and settles the names), every later row has it.
  void end_row(std::int64_t width, std::size_t before) {
    if (rows_ == 0 && header_) {
      const std::int64_t names = std::int64_t(names_.size());
      if (!index_column_ && width == names + 1 && width > 1) {
        values_.erase(values_.begin() + std::ptrdiff_t(before));  // R's write.table: row names
        index_column_ = true;
        --width;
      } else if (width != names) {
        throw UsageError(shown_ + ":" + std::to_string(line_no_) + ": " + std::to_string(width) +
                         " fields where the line of column names (line " +
                         std::to_string(header_line_) + ") has " + std::to_string(names) +
                         " names");
      }
    }
    if (rows_ > 0 && width != cols_)
      throw UsageError(shown_ + ":" + std::to_string(line_no_) + ": " + std::to_string(width) +
                       " fields where the first row has " + std::to_string(cols_));
    if (rows_ == 0) cols_ = width;
    ++rows_;
  }

  // The common line, numbers alone, read in one pass without copies:
  // decimal numbers (read_decimal) separated by commas or by blanks, blanks
  // around them, after the row's label when the file has an index column.
  // Any other line (a missing value, a quote, a comment, a '+', a zero, a
  // number out of range, a bad field) is left whole to the general reader:
  // false, nothing kept.
  bool plain_line(std::string_view line) {
    const char* p = line.data();
    const char* const end = p + line.size();
    auto skip_blanks = [&] {
      while (p < end && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
    };
    const std::size_t before = values_.size();
    auto general = [&] {
      values_.resize(before);
      return false;
    };
    if (index_column_) {
      const char* comma = static_cast<const char*>(std::memchr(p, ',', std::size_t(end - p)));
      if (!comma || std::find_if(p, comma, [](char c) { return c == '"' || c == '#'; }) != comma)
        return false;
      p = comma + 1;
    }
    skip_blanks();
    char separator = 0;  // ',' or ' ', once met
    for (;;) {
      double x;
      const std::size_t length = read_decimal(std::string_view(p, std::size_t(end - p)), &x);
      if (length == 0) return general();
      values_.push_back(x);
      p += length;
      const char* after = p;
      skip_blanks();
      if (p == end) break;
      if (*p == ',') {
        if (separator == ' ') return general();
        separator = ',';
        ++p;
        skip_blanks();
      } else {
        if (p == after || separator == ',') return general();
        separator = ' ';
      }
    }
    const std::int64_t width = std::int64_t(values_.size() - before);
    if (width != cols_) return general();  // the general reader says what is wrong
    ++rows_;
    return true;
  }

  double number(std::string_view f) const {
    if (f.empty() || f == "NA") return kMissingValue;
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
  std::size_t header_line_ = 0;
  ColumnNames names_;          // its names, without the index column's
  bool index_column_ = false;  // the first column labels the rows
  std::string quoted_;         // the field last read from quotes
};

}  // namespace

Matrix parse_matrix_file(std::string_view content, const std::string& name, ColumnNames* names) {
  NumberFileScreen().feed(content, name);
  MatrixFileLines lines(name);
  for (std::string_view line : split(content, '\n')) lines.line(line);
  return lines.finish(names);
}

Matrix read_matrix_file(const std::string& path, ColumnNames* names) {
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
  // The size of a regular file (0 for a stream), for the room of its numbers.
  struct stat info;
  const std::size_t size =
      fstat(fileno(f.get()), &info) == 0 && S_ISREG(info.st_mode) ? std::size_t(info.st_size) : 0;
  std::size_t read = 0;
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
    if (read == 0 && size > got && start > 0) {
      // The first block's density of numbers over the whole file, and 2% more.
      const double per_byte = double(lines.count()) / double(start);
      lines.expect(std::size_t(per_byte * double(size) * 1.02) + 64);
    }
    read += got;
  }
  if (std::ferror(f.get())) throw UsageError("cannot read " + printable(path) + ": " + std::strerror(errno));
  if (!pending.empty()) lines.line(pending);
  return lines.finish(names);
}

std::string column_names_line(const ColumnNames& names) {
  std::string line;
  for (std::size_t j = 0; j < names.size(); ++j) {
    const std::string& s = names[j];
    if (j) line += ',';
    const bool quote = s.empty() || s.find_first_of(",\"#") != std::string::npos ||
                       is_blank(s.front()) || is_blank(s.back());
    if (!quote) {
      line += s;
      continue;
    }
    line += '"';
    for (const char c : s) line += c == '"' ? std::string("\"\"") : std::string(1, c);
    line += '"';
  }
  return line + '\n';
}

void write_matrix_file(const std::string& path, const Matrix& m, const ColumnNames& names) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "w"), &std::fclose);
  if (!f) throw ResourceError("cannot write " + printable(path) + ": " + std::strerror(errno));
  // Rows gathered in blocks of about 64 KiB, numbers as the shortest text
  // that reads back as the same double.
  constexpr std::size_t kBlock = std::size_t(1) << 16;
  std::vector<char> block(kBlock + kShortestTextRoom + 4);
  std::size_t n = 0;
  int err = 0;  // the first failure's errno
  auto put = [&]() {
    errno = 0;
    if (std::fwrite(block.data(), 1, n, f.get()) != n && err == 0) err = errno ? errno : EIO;
    n = 0;
  };
  if (!names.empty()) {
    const std::string line = column_names_line(names);
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), f.get()) != line.size()) err = errno ? errno : EIO;
  }
  for (std::int64_t i = 0; i < m.rows && err == 0; ++i) {
    for (std::int64_t j = 0; j < m.cols; ++j) {
      if (n >= kBlock) put();
      if (j) block[n++] = ',';
      const double x = m.at(i, j);
      if (std::isnan(x) || std::isinf(x)) {
        block[n++] = 'N';
        block[n++] = 'A';
      } else {
        n = std::size_t(shortest_text(block.data() + n, x) - block.data());
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

}  // namespace mvts::cli
