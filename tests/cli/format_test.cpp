// The table, csv and json formats and the message lines of the command line.
#include "cli/format.hpp"
#include "cli/parse.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

namespace mvts::cli {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CliTable, ColumnsAlignOnTheDecimalPoint) {
  Matrix m(3, 3, {1.5, -2, 1e-7, -10.25, kNaN, 3e12, 0.125, 4, -0.0});
  const std::vector<std::string> lines = lines_of(table_text("x", m));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "x: 3 x 3");
  // Column 1 has one decimal layout, so every row puts its point in one place.
  const std::size_t point = lines[1].find('.');
  EXPECT_EQ(lines[2].find('.'), point);
  EXPECT_EQ(lines[3].find('.'), point);
  EXPECT_EQ(lines[1].size(), lines[2].size());
  EXPECT_EQ(lines[1].size(), lines[3].size());
  EXPECT_NE(lines[1].find("   1.500"), std::string::npos);
  EXPECT_NE(lines[2].find("-10.250"), std::string::npos);
  // Whole numbers stay whole; missing is '.'; extreme magnitudes go scientific;
  // a negative zero is shown as 0.
  EXPECT_NE(lines[1].find("  -2  1e-07"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("  .  3e+12"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("   4  0e+00"), std::string::npos) << lines[3];
}

TEST(CliTable, SevenSignificantDigits) {
  const std::vector<std::string> lines = lines_of(table_text("v", Matrix(2, 1, {3.14159265358979, 2.0 / 3})));
  EXPECT_EQ(lines[1], "  3.1415927");
  EXPECT_EQ(lines[2], "  0.6666667");
  EXPECT_EQ(table_text("e", Matrix(0, 2)), "e: 0 x 2\n");
}

// The table as printf writes it, cell by cell and held whole: the written
// form the streaming writer keeps byte for byte (seven significant digits,
// decimals per column, scientific outside [1e-4, 1e10)).
std::string printf_table(const std::string& label, const Matrix& m) {
  std::string s = label + ": " + std::to_string(m.rows) + " x " + std::to_string(m.cols) + "\n";
  std::vector<std::string> cells(m.data.size());
  std::vector<std::size_t> width(std::size_t(m.cols), 1);
  char buf[64];
  for (std::int64_t j = 0; j < m.cols; ++j) {
    double lo = HUGE_VAL, hi = 0;
    for (std::int64_t i = 0; i < m.rows; ++i)
      if (std::isfinite(m.at(i, j)) && m.at(i, j) != 0)
        lo = std::min(lo, std::fabs(m.at(i, j))), hi = std::max(hi, std::fabs(m.at(i, j)));
    const bool sci = hi > 0 && (lo < 1e-4 || hi >= 1e10);
    int decimals = 0;
    for (std::int64_t i = 0; i < m.rows; ++i) {
      const double x = m.at(i, j);
      if (!std::isfinite(x) || x == 0) continue;
      std::snprintf(buf, sizeof buf, "%.6e", x);
      const char* e = std::strchr(buf, 'e');
      int d = 6;
      for (const char* q = e - 1; d > 0 && *q == '0'; --q) --d;
      decimals = std::max(decimals, sci ? d : std::max(0, d - std::atoi(e + 1)));
    }
    for (std::int64_t i = 0; i < m.rows; ++i) {
      double x = m.at(i, j);
      std::string& c = cells[std::size_t(i * m.cols + j)];
      if (!std::isfinite(x)) {
        c = ".";
      } else {
        if (x == 0) x = 0.0;
        std::snprintf(buf, sizeof buf, sci ? "%.*e" : "%.*f", decimals, x);
        c = buf;
      }
      width[std::size_t(j)] = std::max(width[std::size_t(j)], c.size());
    }
  }
  for (std::int64_t i = 0; i < m.rows; ++i) {
    for (std::int64_t j = 0; j < m.cols; ++j) {
      const std::string& c = cells[std::size_t(i * m.cols + j)];
      s.append(2 + width[std::size_t(j)] - c.size(), ' ');
      s += c;
    }
    s += '\n';
  }
  return s;
}

// Written in blocks after a pass over the values, the table is the text
// printf gives, over many blocks and every kind of column.
TEST(CliTable, StreamedTableIsThePrintfTable) {
  std::mt19937_64 gen(99);
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> scale(-12, 14);
  Matrix m(20000, 6);
  for (std::int64_t i = 0; i < m.rows; ++i) {
    m.at(i, 0) = normal(gen);                                  // fixed, seven digits
    m.at(i, 1) = normal(gen) * std::pow(10.0, scale(gen));     // scientific
    m.at(i, 2) = std::round(normal(gen) * 1000);               // whole numbers
    m.at(i, 3) = i % 7 == 0 ? kNaN : i % 5 == 0 ? -0.0 : 0.5;  // missing, zeros
    m.at(i, 4) = 9.9999996 + 1e-9 * double(i % 3);             // rounding up to 10
    m.at(i, 5) = -1e300 * normal(gen);
  }
  EXPECT_EQ(table_text("big", m), printf_table("big", m));
  const Matrix small(2, 2, {1.5, -2, kNaN, 1e-300});
  EXPECT_EQ(table_text("s", small), printf_table("s", small));
}

// Column names, when a matrix has them: a line over the columns in table
// (each column as wide as its name or its cells, the name made safe for a
// terminal), a line of CSV fields in csv, "columns" in json; without names
// every format is as before.
TEST(CliFormats, ColumnNamesLabelTheColumns) {
  const Matrix m(2, 2, {0.5, 1250.25, -1, kNaN});
  const ColumnNames names = {"GDP growth, %", "r\x1b"};
  EXPECT_EQ(table_text("y", m, &names),
            "y: 2 x 2\n"
            "  GDP growth, %    r\\x1B\n"
            "            0.5  1250.25\n"
            "           -1.0        .\n");
  EXPECT_EQ(csv_text("y", m, &names), "# y\n\"GDP growth, %\",r\x1b\n0.5,1250.25\n-1,.\n");
  const ColumnNames none;
  EXPECT_EQ(table_text("y", m, &none), table_text("y", m));
  EXPECT_EQ(csv_text("y", m, &none), csv_text("y", m));
  CallResult r;
  const nlohmann::json named = nlohmann::json::parse(json_call("FDIF", r, {{"series", 1, &m, &names}}));
  EXPECT_EQ(named["outputs"][0]["columns"], nlohmann::json(names));
  const std::string plain = json_call("FDIF", r, {{"series", 1, &m}});
  EXPECT_EQ(plain.find("columns"), std::string::npos);
  // The csv with names reads back to the same names and numbers.
  ColumnNames back;
  const Matrix again = parse_matrix_file(csv_text("y", m, &names), "y.csv", &back);
  EXPECT_EQ(back, names);
  EXPECT_EQ(again.at(1, 0), -1.0);
}

TEST(CliCsv, ShortestRoundTripDigitsAndDotForMissing) {
  Matrix m(2, 2, {0.1, kNaN, -kInf, 1.0 / 3});
  const std::string text = csv_text("series", m);
  EXPECT_EQ(text, "# series\n0.1,.\n.,0.3333333333333333\n");
  EXPECT_EQ(std::strtod("0.3333333333333333", nullptr), 1.0 / 3);
}

// Every double written as CSV, as JSON and by the script's write command
// reads back to the same bits through the file reader: random bit
// patterns, subnormals, signed zeros, the largest and smallest doubles and
// integers beyond 2^53; and an output of more than one block (64 KiB).
TEST(CliCsv, EveryDoubleReadsBackBitForBit) {
  std::vector<double> xs = {0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308,
                            2.2250738585072009e-308, 1.7976931348623157e308, -1.7976931348623157e308,
                            9007199254740993.0, 18014398509481988.0, 1e23, 0.1, 1.0 / 3};
  std::mt19937_64 gen(2026);
  std::uniform_int_distribution<std::uint64_t> bits;
  while (xs.size() < 30000) {
    const std::uint64_t b = bits(gen);
    double x;
    std::memcpy(&x, &b, sizeof x);
    if (std::isfinite(x)) xs.push_back(x);
  }
  const Matrix m(std::int32_t(xs.size() / 3), 3, std::vector<double>(xs.begin(), xs.begin() + (xs.size() / 3) * 3));
  auto same_bits = [&](const Matrix& got, const char* how) {
    ASSERT_EQ(got.rows, m.rows) << how;
    ASSERT_EQ(got.cols, m.cols) << how;
    EXPECT_EQ(std::memcmp(got.data.data(), m.data.data(), m.data.size() * sizeof(double)), 0)
        << how;
  };
  // CSV: the "# name" line is a comment to the reader
  same_bits(parse_matrix_file(csv_text("x", m), "x.csv"), "csv");
  // the script's write
  const std::string path = (std::filesystem::temp_directory_path() / "mvts_format_bits.csv").string();
  write_matrix_file(path, m);
  same_bits(read_matrix_file(path), "write");
  std::remove(path.c_str());
  // JSON numbers
  for (double x : xs) {
    double back = 0.0;
    const std::string t = json_number(x);
    std::from_chars(t.data(), t.data() + t.size(), back);
    ASSERT_EQ(std::memcmp(&back, &x, sizeof x), 0) << t;
  }
}

TEST(CliJson, NumbersReadBackExactly) {
  std::mt19937_64 gen(12345);
  std::uniform_int_distribution<std::uint64_t> bits;
  int checked = 0;
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t b = bits(gen);
    double x;
    std::memcpy(&x, &b, sizeof x);
    if (!std::isfinite(x)) continue;
    ASSERT_EQ(std::strtod(json_number(x).c_str(), nullptr), x) << json_number(x);
    ++checked;
  }
  EXPECT_GT(checked, 1900);
  EXPECT_EQ(json_number(kNaN), "null");
  EXPECT_EQ(json_number(-kInf), "null");
  EXPECT_EQ(json_number(1.3407807929942597e152), "1.3407807929942597e+152");
}

TEST(CliJson, CallObjectHoldsStatusMessagesNotesAndGivenOutputs) {
  CallResult r;
  r.status = 0;
  r.messages.push_back({359, {std::int64_t(3), 1.3407807929942597e152}, "value at 3 too large", true});
  r.messages.push_back({0, {std::string("bad \xff byte"), kNaN}, "host text \xc3", false});
  r.notes.push_back("optimizer: done");
  Matrix out(2, 1, {1.5, kNaN});
  const std::string text = json_call("VARMASIM", r, {{"series", 1, &out}});
  EXPECT_EQ(text.find('\n'), std::string::npos);  // one line per call
  const nlohmann::json j = nlohmann::json::parse(text);
  EXPECT_EQ(j["function"], "VARMASIM");
  EXPECT_EQ(j["status"], 0);
  ASSERT_EQ(j["messages"].size(), 3u);
  EXPECT_EQ(j["messages"][0]["number"], 359);
  EXPECT_TRUE(j["messages"][0]["inserts"][0].is_number_integer());
  EXPECT_EQ(j["messages"][0]["inserts"][1].get<double>(), 1.3407807929942597e152);
  EXPECT_TRUE(j["messages"][0]["note"].get<bool>());
  EXPECT_TRUE(j["messages"][1]["inserts"][1].is_null());  // invalid UTF-8 replaced, not thrown
  EXPECT_EQ(j["messages"][2]["text"], "optimizer: done");
  ASSERT_EQ(j["outputs"].size(), 1u);
  EXPECT_EQ(j["outputs"][0]["index"], 1);
  EXPECT_EQ(j["outputs"][0]["rows"], 2);
  EXPECT_EQ(j["outputs"][0]["data"][0][0], 1.5);
  EXPECT_TRUE(j["outputs"][0]["data"][1][0].is_null());
  // Keys in the order the JSON format fixes.
  EXPECT_EQ(text.rfind("{\"function\":\"VARMASIM\",\"status\":0,\"messages\":[", 0), 0u);
}

TEST(CliMessages, ErrorsNotesAndUnexplainedStatuses) {
  CallResult failed;
  failed.status = 13;
  EXPECT_EQ(message_lines("VNORMAL", failed, ""),
            std::vector<std::string>{"ERROR: VNORMAL failed with status 13: a character value "
                                     "was given where numbers are required."});
  CallResult explained;
  explained.status = 100;
  explained.messages.push_back({372, {}, "The differencing parameter d is out of range.", false});
  EXPECT_EQ(message_lines("FDIF", explained, "s.mvts:4: "),
            std::vector<std::string>{"ERROR: s.mvts:4: The differencing parameter d is out of range."});
  CallResult silent;  // status 100 without a message: the line must not claim one
  silent.status = 100;
  const auto lines = message_lines("VARMALIK", silent, "");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].find("in a message"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("without a message"), std::string::npos) << lines[0];
  CallResult noted;  // status 0: every message is a note, the call went on
  noted.messages.push_back({143, {}, "the optimizer stopped early", false});
  noted.notes.push_back("loaded");
  EXPECT_EQ(message_lines("X", noted, ""),
            (std::vector<std::string>{"NOTE: the optimizer stopped early", "NOTE: loaded"}));
}

TEST(CliMessages, TheArgumentWhoseCheckFailedIsNamed) {
  CallResult status;
  status.status = 17;
  status.argument = 8;
  EXPECT_EQ(message_lines("VARMASIM", status, "", "initial"),
            std::vector<std::string>{"ERROR: VARMASIM failed with status 17: argument 8 "
                                     "(`initial`) contains missing values."});
  CallResult explained;
  explained.status = 100;
  explained.argument = 3;
  explained.messages.push_back({361, {}, "pure MA", true});
  explained.messages.push_back({357, {}, "The covariance matrix is not square.", false});
  EXPECT_EQ(message_lines("VARMACOV", explained, "s.mvts:2: ", "sigma"),
            (std::vector<std::string>{"NOTE: s.mvts:2: pure MA",
                                      "ERROR: s.mvts:2: argument 3 (`sigma`): The covariance "
                                      "matrix is not square."}));
  // Without a name (a function the catalogue does not describe): the number.
  EXPECT_EQ(message_lines("X", status, ""),
            std::vector<std::string>{"ERROR: X failed with status 17: argument 8 contains "
                                     "missing values."});
}

TEST(CliJson, TheArgumentWhoseCheckFailedIsAFieldAfterTheOutputs) {
  CallResult r;
  r.status = 17;
  r.argument = 8;
  std::string text = json_call("VARMASIM", r, {}, "initial");
  nlohmann::json j = nlohmann::json::parse(text);
  EXPECT_EQ(j["argument"]["index"], 8);
  EXPECT_EQ(j["argument"]["name"], "initial");
  EXPECT_EQ(text.rfind("{\"function\":\"VARMASIM\",\"status\":17,\"messages\":[", 0), 0u);
  r.argument = 0;
  j = nlohmann::json::parse(json_call("VARMASIM", r, {}));
  ASSERT_TRUE(j.contains("argument"));
  EXPECT_TRUE(j["argument"].is_null());
}

TEST(CliPrinter, MessagesToStandardErrorResultsToStandardOutput) {
  CallResult r;
  r.status = 0;
  r.messages.push_back({361, {}, "pure MA", true});
  Matrix a(1, 1, {2}), b(1, 2, {3, 4});
  std::ostringstream out, err;
  Printer table(Format::kTable, out, err);
  table.call("F", r, {{"a", 1, &a}, {"b", 2, &b}}, "");
  EXPECT_EQ(out.str(), "a: 1 x 1\n  2\n\nb: 1 x 2\n  3  4\n");
  EXPECT_EQ(err.str(), "NOTE: pure MA\n");

  std::ostringstream jout, jerr;
  Printer json(Format::kJson, jout, jerr);
  json.call("F", r, {{"a", 1, &a}}, "");
  json.matrices("print", "b", {{"b", 0, &b}});
  EXPECT_TRUE(jerr.str().empty());
  const std::vector<std::string> lines = lines_of(jout.str());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(lines[1])["print"], "b");
  EXPECT_FALSE(nlohmann::json::parse(lines[1])["outputs"][0].contains("index"));
}

TEST(CliPrinter, ACallsNoteStandsBeforeItsResultsOnOneTerminal) {
  // Both streams on one terminal: the blank line between blocks comes
  // before the next call's note, not between the note and its results.
  CallResult r;
  r.notes.push_back("a note");
  Matrix a(1, 1, {2});
  std::ostringstream both;
  Printer table(Format::kTable, both, both);
  table.call("F", r, {{"a", 1, &a}}, "s:1: ");
  table.call("F", r, {{"a", 1, &a}}, "s:2: ");
  EXPECT_EQ(both.str(), "NOTE: s:1: a note\na: 1 x 1\n  2\n\nNOTE: s:2: a note\na: 1 x 1\n  2\n");
}

}  // namespace
}  // namespace mvts::cli
