#include "cli/matrix_file.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "cli/lexical.hpp"
#include "cli/parse.hpp"
#include "cli/printable.hpp"

namespace mvts::cli {

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
    if (rows_ > kLargestDimension || cols_ > kLargestDimension)
      throw UsageError(shown_ + " has more rows or columns than a matrix can hold");
    return Matrix(std::int32_t(rows_), std::int32_t(cols_), std::move(values_));
  }

 private:
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

}  // namespace mvts::cli
