#include "cli/format.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <nlohmann/json.hpp>

#include "cli/matrix_file.hpp"
#include "cli/number_text.hpp"
#include "cli/printable.hpp"

namespace mvts::cli {
namespace {

using Json = nlohmann::ordered_json;

// Significant digits shown by the table format.
constexpr int kTableDigits = 7;
// Columns whose non-zero magnitudes reach outside [kFixedLow, kFixedHigh) are
// shown in scientific notation.
constexpr double kFixedLow = 1e-4;
constexpr double kFixedHigh = 1e10;
// Room for one cell: "%.*f" of a number below kFixedHigh or "%.*e" of any,
// with at most kTableDigits - 1 decimals from significant(), fits in 40
// bytes; twice that for safety.
constexpr std::size_t kCellRoom = 80;

bool is_missing(double x) { return std::isnan(x) || std::isinf(x); }

std::string dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string json_string(const std::string& s) { return dump(Json(s)); }

namespace {

// x written with kTableDigits significant digits in scientific notation:
// the decimal exponent, and how many mantissa decimals remain once trailing
// zeros are dropped.
void significant(double x, int* exponent, int* mantissa_decimals) {
  char buf[40];
  // to_chars with a precision writes what printf's "%.*e" writes.
  const char* end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific,
                                  kTableDigits - 1).ptr;
  const char* e = std::find(static_cast<const char*>(buf), end, 'e');
  int exp = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exp);
  *exponent = exp;
  int d = kTableDigits - 1;
  for (const char* p = e - 1; d > 0 && *p == '0'; --p) --d;
  *mantissa_decimals = d;
}

struct ColumnStyle {
  bool scientific = false;
  int decimals = 0;
};

ColumnStyle column_style(const Matrix& m, std::int64_t j) {
  double lo = HUGE_VAL, hi = 0;
  for (std::int64_t i = 0; i < m.rows; ++i) {
    const double x = m.at(i, j);
    if (is_missing(x) || x == 0) continue;
    lo = std::min(lo, std::fabs(x));
    hi = std::max(hi, std::fabs(x));
  }
  ColumnStyle s;
  if (hi == 0) return s;
  s.scientific = lo < kFixedLow || hi >= kFixedHigh;
  for (std::int64_t i = 0; i < m.rows; ++i) {
    const double x = m.at(i, j);
    if (is_missing(x) || x == 0) continue;
    int exponent = 0, mantissa = 0;
    significant(x, &exponent, &mantissa);
    s.decimals = std::max(s.decimals, s.scientific ? mantissa : std::max(0, mantissa - exponent));
  }
  return s;
}

// A cell of the table: "%.*f" or "%.*e" with the column's decimals (as
// to_chars writes them), '.' for a missing value; its end.
char* cell(char* out, double x, const ColumnStyle& s) {
  if (is_missing(x)) {
    *out = '.';
    return out + 1;
  }
  if (x == 0) x = 0.0;  // no "-0"
  return std::to_chars(out, out + kCellRoom, x,
                       s.scientific ? std::chars_format::scientific : std::chars_format::fixed,
                       s.decimals)
      .ptr;
}

// Display columns of a text: its UTF-8 characters.
std::size_t display_width(std::string_view s) {
  return std::size_t(std::count_if(s.begin(), s.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string shape(const Matrix& m) { return std::to_string(m.rows) + " x " + std::to_string(m.cols); }

void write_json_matrix(BlockOut& b, const Matrix& m) {
  b.ch('[');
  for (std::int64_t i = 0; i < m.rows; ++i) {
    b.text(i ? ",[" : "[");
    for (std::int64_t j = 0; j < m.cols; ++j) {
      if (j) b.ch(',');
      b.number(m.at(i, j), "null");
    }
    b.ch(']');
  }
  b.ch(']');
}

void write_json_outputs(BlockOut& b, const std::vector<Shown>& items) {
  b.text("\"outputs\":[");
  bool first = true;
  for (const Shown& o : items) {
    if (!o.m) continue;
    b.text(first ? "{" : ",{");
    first = false;
    b.text("\"name\":" + dump(Json(o.name)));
    if (o.index > 0) b.text(",\"index\":" + std::to_string(o.index));
    b.text(",\"rows\":" + std::to_string(o.m->rows) + ",\"cols\":" + std::to_string(o.m->cols));
    if (o.names && !o.names->empty()) {
      b.text(",\"columns\":[");
      for (std::size_t j = 0; j < o.names->size(); ++j) {
        if (j) b.ch(',');
        b.text(dump(Json((*o.names)[j])));
      }
      b.ch(']');
    }
    b.text(",\"data\":");
    write_json_matrix(b, *o.m);
    b.ch('}');
  }
  b.ch(']');
}

}  // namespace

std::optional<Format> parse_format(std::string_view name) {
  if (name == "table") return Format::kTable;
  if (name == "csv") return Format::kCsv;
  if (name == "json") return Format::kJson;
  return std::nullopt;
}

void write_table(std::ostream& out, const std::string& label, const Matrix& m,
                 const ColumnNames* names) {
  BlockOut b(out);
  b.text(label + ": " + shape(m) + "\n");
  const std::int64_t rows = m.rows, cols = m.cols;
  if (rows <= 0 || cols <= 0) return;
  // A first pass over the values sets each column's style and width; the
  // second writes the rows: nothing is held but the block being written.
  const bool named = names && std::int64_t(names->size()) == cols;
  std::vector<ColumnStyle> style(static_cast<std::size_t>(cols), ColumnStyle());
  std::vector<std::size_t> width(std::size_t(cols), 1);
  std::vector<std::string> shown(named ? std::size_t(cols) : 0);
  char buf[kCellRoom];
  for (std::int64_t j = 0; j < cols; ++j) {
    const std::size_t c = std::size_t(j);
    style[c] = column_style(m, j);
    for (std::int64_t i = 0; i < rows; ++i)
      width[c] = std::max(width[c], std::size_t(cell(buf, m.at(i, j), style[c]) - buf));
    if (named) {
      shown[c] = printable((*names)[c]);
      width[c] = std::max(width[c], display_width(shown[c]));
    }
  }
  if (named) {
    for (std::size_t c = 0; c < shown.size(); ++c) {
      b.text(std::string(2 + width[c] - display_width(shown[c]), ' '));
      b.text(shown[c]);
    }
    b.ch('\n');
  }
  for (std::int64_t i = 0; i < rows; ++i) {
    for (std::int64_t j = 0; j < cols; ++j) {
      const std::size_t c = std::size_t(j);
      const std::size_t n = std::size_t(cell(buf, m.at(i, j), style[c]) - buf);
      for (std::size_t k = n; k < 2 + width[c]; ++k) b.ch(' ');
      b.text(std::string_view(buf, n));
    }
    b.ch('\n');
  }
}

std::string table_text(const std::string& label, const Matrix& m, const ColumnNames* names) {
  std::ostringstream s;
  write_table(s, label, m, names);
  return s.str();
}

void BlockOut::text(std::string_view s) {
  if (n_ + s.size() > kSize) flush();
  if (s.size() > kSize) {
    out_.write(s.data(), std::streamsize(s.size()));
    return;
  }
  std::memcpy(buf_ + n_, s.data(), s.size());
  n_ += s.size();
}

void BlockOut::number(double x, std::string_view missing) {
  if (is_missing(x)) {
    text(missing);
    return;
  }
  if (n_ + kShortestTextRoom > kSize) flush();
  n_ = std::size_t(shortest_text(buf_ + n_, x) - buf_);
}

void BlockOut::flush() {
  if (n_ > 0) out_.write(buf_, std::streamsize(n_));
  n_ = 0;
}

void write_csv(std::ostream& out, const std::string& name, const Matrix& m,
               const ColumnNames* names) {
  BlockOut b(out);
  b.text("# " + name + "\n");
  if (names && !names->empty()) b.text(column_names_line(*names));
  for (std::int64_t i = 0; i < m.rows; ++i) {
    for (std::int64_t j = 0; j < m.cols; ++j) {
      if (j) b.ch(',');
      b.number(m.at(i, j), ".");
    }
    b.ch('\n');
  }
}

std::string csv_text(const std::string& name, const Matrix& m, const ColumnNames* names) {
  std::ostringstream s;
  write_csv(s, name, m, names);
  return s.str();
}

std::string json_number(double x) {
  if (is_missing(x)) return "null";
  char buf[40];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x);
  return ec == std::errc() ? std::string(buf, end) : "null";
}

namespace {

// The head of a call's object up to its outputs, without the closing brace:
// {"function":..,"status":..,"messages":[..]
std::string json_head(const std::string& function, const CallResult& r) {
  Json head;
  head["function"] = function;
  head["status"] = r.status;
  Json messages = Json::array();
  for (const Message& m : r.messages) {
    Json inserts = Json::array();
    for (const InsertValue& v : m.inserts) {
      if (auto* s = std::get_if<std::string>(&v)) inserts.push_back(*s);
      else if (auto* i = std::get_if<std::int64_t>(&v)) inserts.push_back(*i);
      else if (double d = std::get<double>(v); is_missing(d)) inserts.push_back(nullptr);
      else inserts.push_back(d);
    }
    messages.push_back(Json{{"number", m.number}, {"inserts", inserts}, {"text", m.text},
                            {"note", m.note}});
  }
  for (const std::string& n : r.notes)
    messages.push_back(Json{{"number", 0}, {"inserts", Json::array()}, {"text", n}, {"note", true}});
  head["messages"] = messages;
  std::string s = dump(head);
  s.pop_back();  // the closing brace
  return s;
}

}  // namespace

void write_json_call(std::ostream& out, const std::string& function, const CallResult& r,
                     const std::vector<Shown>& outputs, const std::string& argument_name) {
  BlockOut b(out);
  b.text(json_head(function, r));
  b.ch(',');
  write_json_outputs(b, outputs);
  const Json argument = r.argument > 0 ? Json{{"index", r.argument}, {"name", argument_name}}
                                       : Json(nullptr);
  b.text(",\"argument\":" + dump(argument) + "}\n");
}

std::string json_call(const std::string& function, const CallResult& r,
                      const std::vector<Shown>& outputs, const std::string& argument_name) {
  std::ostringstream s;
  write_json_call(s, function, r, outputs, argument_name);
  std::string text = s.str();
  text.pop_back();  // the newline
  return text;
}

std::string status_meaning(int status) { return status_text(status); }

std::string argument_status_meaning(int status) { return argument_status_text(status); }

std::string argument_label(int index, const std::string& name) {
  return "argument " + std::to_string(index) + (name.empty() ? "" : " (`" + name + "`)");
}

std::vector<std::string> message_lines(const std::string& function, const CallResult& r,
                                       const std::string& where,
                                       const std::string& argument_name) {
  std::vector<std::string> lines;
  const std::string label = r.argument > 0 ? argument_label(r.argument, argument_name) : "";
  bool explained = false;
  for (const Message& m : r.messages) {
    // On a call that succeeded every message is a note: the call went on.
    const bool error = !m.note && r.status != 0;
    explained = explained || error;
    lines.push_back((error ? "ERROR: " : "NOTE: ") + where +
                    (error && !label.empty() ? label + ": " : "") + m.text);
  }
  for (const std::string& n : r.notes) lines.push_back("NOTE: " + where + n);
  if (r.status != 0 && !explained) {
    const std::string about = argument_status_meaning(r.status);
    const std::string meaning =
        !label.empty() && !about.empty() ? label + " " + about : status_meaning(r.status);
    lines.push_back("ERROR: " + where + function + " failed with status " +
                    std::to_string(r.status) + (meaning.empty() ? "" : ": " + meaning) + ".");
  }
  return lines;
}

Printer::Printer(Format format, std::ostream& out, std::ostream& err)
    : format_(format), out_(out), err_(err) {}

void Printer::error_line(const std::string& line) {
  out_.flush();
  err_ << line << '\n';
  err_.flush();
}

void Printer::block(const std::string& text) {
  if (started_) out_ << '\n';
  out_ << text;
  started_ = true;
}

void Printer::call(const std::string& function, const CallResult& r,
                   const std::vector<Shown>& outputs, const std::string& where,
                   const std::string& argument_name) {
  if (format_ == Format::kJson) {
    write_json_call(out_, function, r, outputs, argument_name);
    return;
  }
  // The blank line that separates this call's blocks from earlier output
  // comes before its messages, so that on a terminal each note stands
  // next to the results it belongs to.
  const bool shows = std::any_of(outputs.begin(), outputs.end(), [](const Shown& o) { return o.m; });
  if (shows && started_) {
    out_ << '\n';
    started_ = false;
  }
  for (const std::string& line : message_lines(function, r, where, argument_name))
    error_line(line);
  for (const Shown& o : outputs)
    if (o.m) show(o);
}

void Printer::show(const Shown& o) {
  if (started_) out_ << '\n';
  if (format_ == Format::kTable)
    write_table(out_, o.name, *o.m, o.names);
  else
    write_csv(out_, o.name, *o.m, o.names);
  started_ = true;
}

void Printer::matrices(const std::string& command, const std::string& subject,
                       const std::vector<Shown>& items, const std::string& json_extra) {
  if (format_ == Format::kJson) {
    BlockOut b(out_);
    std::string head(1, '{');
    head += dump(Json(command));
    head += ':';
    head += dump(Json(subject));
    if (!json_extra.empty()) head.append(1, ',').append(json_extra);
    head += ',';
    b.text(head);
    write_json_outputs(b, items);
    b.text("}\n");
    return;
  }
  for (const Shown& o : items) {
    if (!o.m)
      block(format_ == Format::kTable ? o.name + ": no value\n" : "# " + o.name + " (no value)\n");
    else
      show(o);
  }
}

}  // namespace mvts::cli
