// The value syntax, data files and the script language of the command line.
#include "cli/parse.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <algorithm>

namespace mvts::cli {
namespace {

std::string temp_path(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("mvts_parse_" + name)).string();
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The message read_matrix_file gives for a file holding `text` at `path`
// ("no error" when it reads the file).
std::string file_error(const std::string& path, const std::string& text) {
  write_text(path, text);
  try {
    read_matrix_file(path);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "no error";
}

// The bytes of a string literal, embedded NULs included.
template <std::size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

Matrix numeric(const std::string& text) {
  Value v = parse_value(text, nullptr);
  EXPECT_EQ(v.kind, Value::Kind::kNumeric) << text;
  return v.m;
}

TEST(CliValues, ShapesFollowSemicolonsAndSeparators) {
  struct Case { const char* text; int rows, cols; std::vector<double> data; };
  const Case cases[] = {
      {"0.5", 1, 1, {0.5}},
      {"1 2 3", 1, 3, {1, 2, 3}},
      {"1;2;3", 3, 1, {1, 2, 3}},
      {"0.5 0.1; 0.1 0.5", 2, 2, {0.5, 0.1, 0.1, 0.5}},
      {"1,2 , 3;4 5,6", 2, 3, {1, 2, 3, 4, 5, 6}},
      {" -1e-3\t+2E2 ;", 1, 2, {-1e-3, 200}},  // a trailing ';' ends the last row
  };
  for (const Case& c : cases) {
    Matrix m = numeric(c.text);
    EXPECT_EQ(m.rows, c.rows) << c.text;
    EXPECT_EQ(m.cols, c.cols) << c.text;
    EXPECT_EQ(m.data, c.data) << c.text;
  }
}

TEST(CliValues, MissingFormsEmptyTextAndCharacterValues) {
  Matrix m = numeric(". nan inf -inf 4");
  ASSERT_EQ(m.cols, 5);
  EXPECT_TRUE(std::isnan(m.data[0]));
  EXPECT_TRUE(std::isnan(m.data[1]));
  EXPECT_TRUE(std::isinf(m.data[2]) && m.data[2] > 0);
  EXPECT_TRUE(std::isinf(m.data[3]) && m.data[3] < 0);
  EXPECT_EQ(m.data[4], 4);

  EXPECT_EQ(parse_value("", nullptr).kind, Value::Kind::kNoValue);
  EXPECT_EQ(parse_value("   ", nullptr).kind, Value::Kind::kNoValue);
  for (const char* text : {"abc", "1 2 x", "NA", "1..2", "-"}) {
    Value v = parse_value(text, nullptr);
    EXPECT_EQ(v.kind, Value::Kind::kText) << text;
    EXPECT_EQ(v.text, text);
  }
}

TEST(CliValues, OnlyDecimalNumbersAndTheMissingWordsAreRead) {
  // The missing-value words in any letter case, as other programs write them.
  Matrix m = numeric("NaN INF -Inf nan inf -inf .5 5. +5 1E+2");
  EXPECT_EQ(numeric("1e-999 1.7976931348623157e308").data, (std::vector<double>{0, 1.7976931348623157e308}));
  EXPECT_TRUE(std::isnan(m.data[0]));
  EXPECT_TRUE(std::isinf(m.data[1]) && m.data[1] > 0);
  EXPECT_TRUE(std::isinf(m.data[2]) && m.data[2] < 0);
  EXPECT_EQ(std::vector<double>(m.data.begin() + 6, m.data.end()), (std::vector<double>{0.5, 5, 5, 100}));
  // Forms that C reads as numbers and mvts does not: refused, saying why.
  const std::pair<const char*, const char*> refused[] = {
      {"0x10", "hexadecimal"},   {"-0X1p3", "hexadecimal"},  {"infinity", "missing value"},
      {"nan(123)", "missing value"}, {"-nan", "missing value"}, {"+inf", "missing value"},
      {"1 0x10", "hexadecimal"},  {"INFINITY; 2", "missing value"},
      {"1 1e999 3", "beyond the largest number"}, {"-2E+400", "beyond the largest number"},
  };
  for (const auto& [text, why] : refused) {
    try {
      parse_value(text, nullptr);
      ADD_FAILURE() << text << " was read";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << text << ": " << e.what();
    }
  }
  // A word among them makes the whole text a character value, as before.
  EXPECT_EQ(parse_value("0x10 abc", nullptr).kind, Value::Kind::kText);
  for (const char* text : {"1e", "e5", "1e+", ".", "+", "1.2.3", "0x"})
    EXPECT_EQ(refused_number(text), "") << text;
}

TEST(CliValues, TextIsShownWithEveryControlByteEscaped) {
  EXPECT_EQ(printable("plain text, 1.5"), "plain text, 1.5");
  EXPECT_EQ(printable(bytes("a\0b\x1b[31mc\x7f\t\r\n")), "a\\x00b\\x1B[31mc\\x7F\\t\\r\\n");
  EXPECT_EQ(printable("say \"hi\" \\"), "say \\\"hi\\\" \\\\");
  // Valid UTF-8 stays; stray and truncated bytes, C1 controls (U+009B is a
  // control sequence introducer) and bidirectional overrides are escaped.
  EXPECT_EQ(printable("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"), "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(printable("\xC2\x9B" "2J"), "\\u009B2J");
  EXPECT_EQ(printable("\xE2\x80\xAE" "abc"), "\\u202Eabc");
  EXPECT_EQ(printable("\xFF\xC3"), "\\xFF\\xC3");
  EXPECT_EQ(printable("\xC0\xAF"), "\\xC0\\xAF");          // overlong '/'
  EXPECT_EQ(printable("\xED\xA0\x80"), "\\xED\\xA0\\x80");  // a surrogate
  // Quoted and cut at a character boundary.
  const std::string long_text = std::string(59, 'x') + "\xC3\xA9" + "tail";
  EXPECT_EQ(in_quotes(long_text), "\"" + std::string(59, 'x') + "...\"");
}

TEST(CliValues, MalformedMatricesAreUsageErrors) {
  for (const char* text : {"1 2; 3", "1 2;; 3 4", "1,,2", "1, 2,", "; 1"})
    EXPECT_THROW(parse_value(text, nullptr), UsageError) << text;
}

TEST(CliValues, VariablesOnlyInScripts) {
  Variables vars;
  vars["y"] = Matrix(1, 2, {3, 4});
  vars["none"] = std::nullopt;
  EXPECT_EQ(parse_value("$y", &vars).m.data, (std::vector<double>{3, 4}));
  EXPECT_EQ(parse_value("$none", &vars).kind, Value::Kind::kNoValue);
  EXPECT_THROW(parse_value("$z", &vars), UsageError);
  EXPECT_THROW(parse_value("$1a", &vars), UsageError);
  EXPECT_THROW(parse_value("$y", nullptr), UsageError);
}

TEST(CliFiles, CsvAndBlankSeparatedFilesWithMissingFieldsAndComments) {
  const std::string csv = temp_path("a.csv");
  write_text(csv, "# x, y\r\n1, 2.5\r\n\r\nNA,.  # trailing comment\n,-3\n");
  Matrix m = parse_value("@" + csv, nullptr).m;
  ASSERT_EQ(m.rows, 3);
  ASSERT_EQ(m.cols, 2);
  EXPECT_EQ(m.at(0, 1), 2.5);
  EXPECT_TRUE(std::isnan(m.at(1, 0)) && std::isnan(m.at(1, 1)) && std::isnan(m.at(2, 0)));
  EXPECT_EQ(m.at(2, 1), -3);

  const std::string blank = temp_path("b.txt");
  write_text(blank, "1\t2   3\n4 . 6\n");
  m = read_matrix_file(blank);
  EXPECT_EQ(m.rows, 2);
  EXPECT_EQ(m.cols, 3);
  EXPECT_TRUE(std::isnan(m.at(1, 1)));
  std::remove(csv.c_str());
  std::remove(blank.c_str());
}

// Files as R's write.csv, pandas' to_csv (with and without its index) and
// spreadsheets write them: a first line of column names is read past, an
// empty first name heads an index column that is left out, quoted fields
// lose their quotes (a comma inside quotes stays in the field) and NA is
// missing.
TEST(CliFiles, HeaderLinesOfCommonWriters) {
  const std::string path = temp_path("header.csv");
  auto read = [&](const std::string& text) {
    write_text(path, text);
    return read_matrix_file(path);
  };
  const char* files[] = {
      "x,y\n0.5,1\n1.5,NA\n",                            // pandas, index=False
      ",x,y\n0,0.5,1\n1,1.5,\n",                          // pandas with its index
      "\"\",\"x\",\"y\"\n\"1\",0.5,1\n\"2\",1.5,NA\n",  // R write.csv
      "\"GDP, real\",\"rate \"\"r\"\"\"\n0.5,1\n1.5,NA\n",   // quoted names with a comma
      "x y\n0.5 1\n1.5 .\n",                              // blank-separated
      "\"x\" \"y\"\n\"1\" 0.5 1\n\"2\" 1.5 NA\n",          // R write.table: no name over row names
      "# made by hand\n\n x , \"y # 2\" \r\n0.5,1\r\n1.5, \r\n",  // comment first, CRLF, '#' quoted
  };
  const std::vector<ColumnNames> expected = {
      {"x", "y"}, {"x", "y"}, {"x", "y"}, {"GDP, real", "rate \"r\""}, {"x", "y"}, {"x", "y"},
      {"x", "y # 2"}};
  for (std::size_t f = 0; f < std::size(files); ++f) {
    const char* text = files[f];
    ColumnNames names;
    write_text(path, text);
    const Matrix m = read_matrix_file(path, &names);
    ASSERT_EQ(m.rows, 2) << text;
    ASSERT_EQ(m.cols, 2) << text;
    EXPECT_EQ(m.at(0, 0), 0.5) << text;
    EXPECT_EQ(m.at(0, 1), 1.0) << text;
    EXPECT_EQ(m.at(1, 0), 1.5) << text;
    EXPECT_TRUE(std::isnan(m.at(1, 1))) << text;
    EXPECT_EQ(names, expected[f]) << text;
    EXPECT_EQ(read(text).data.size(), m.data.size()) << text;  // the names are optional
  }
  // A file without a line of names has none.
  ColumnNames names = {"stale"};
  parse_matrix_file("1,2\n3,4\n", "plain.csv", &names);
  EXPECT_TRUE(names.empty());
  std::remove(path.c_str());
}

// The names written by `write` (column_names_line) read back as the same
// names, whatever they hold, and a file written with them reads back to
// the same numbers.
TEST(CliFiles, ColumnNamesWrittenReadBackTheSame) {
  const ColumnNames names = {"plain", "with, comma", "quote \"q\"", " padded ", "hash # sign",
                             "", "caf\xc3\xa9"};
  EXPECT_EQ(column_names_line({"a", "b c"}), "a,b c\n");
  EXPECT_EQ(column_names_line({"x,y", "\"q\""}), "\"x,y\",\"\"\"q\"\"\"\n");
  const std::string path = temp_path("names.csv");
  Matrix m(2, std::int32_t(names.size()));
  for (std::size_t k = 0; k < m.data.size(); ++k) m.data[k] = 0.25 * double(k + 1);
  m.data[3] = std::numeric_limits<double>::quiet_NaN();
  write_matrix_file(path, m, names);
  ColumnNames back;
  const Matrix r = read_matrix_file(path, &back);
  EXPECT_EQ(back, names);
  ASSERT_EQ(r.data.size(), m.data.size());
  for (std::size_t k = 0; k < m.data.size(); ++k)
    EXPECT_TRUE(r.data[k] == m.data[k] || (std::isnan(r.data[k]) && std::isnan(m.data[k]))) << k;
  std::remove(path.c_str());
}

// A count of names that matches no reading of the rows is refused, naming
// the first row's line and the line of names; a line of names after the
// first row is no header (it is a bad row).
TEST(CliFiles, ColumnNamesThatDoNotFitTheRowsAreRefused) {
  const std::string path = temp_path("misfit.csv");
  EXPECT_NE(file_error(path, "a,b,c\n1,2\n").find(path + ":2: 2 fields where the line of column "
                                                      "names (line 1) has 3 names"),
            std::string::npos);
  EXPECT_NE(file_error(path, "# top\na\n1,2,3\n").find(path + ":3: 3 fields where the line of "
                                                        "column names (line 2) has 1 names"),
            std::string::npos);
  EXPECT_NE(file_error(path, "a,b\n1,2\nc,d\n").find(path + ":3: \"c\" is not a number"),
            std::string::npos);
  std::remove(path.c_str());
}

// The one-pass reader of plain lines and the general reader agree: every
// way of writing a row (blanks or commas, CRLF, a missing value, a '+', a
// zero, a comment, an index column) gives the numbers the general reader
// gives for the same line alone, and a bad later line is refused by its
// number as before.
TEST(CliFiles, PlainLinesReadAsTheGeneralReaderReadsThem) {
  const char* rows[] = {"1.5,2.25,-3",       " 1.5 , 2.25 ,-3 \r", "1.5 2.25 -3",
                        "1.5\t2.25  -3",     "+1.5,2.25,-3",       "1.5,.,-3",
                        "1.5,,-3",           "1.5,NA,-3",          "0,2.25,-0",
                        "1.5,2.25,-3 # note", "1e-400,2e-3,-3E2",  "\"1.5\",2.25,-3"};
  for (const char* row : rows) {
    const Matrix alone = parse_matrix_file(std::string(row) + "\n", "alone.csv");
    const Matrix after = parse_matrix_file("9,9,9\n" + std::string(row) + "\n", "after.csv");
    ASSERT_EQ(after.rows, 2) << row;
    ASSERT_EQ(alone.cols, 3) << row;
    for (int j = 0; j < 3; ++j) {
      const double a = alone.at(0, j), b = after.at(1, j);
      EXPECT_TRUE(std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b))) << row;
    }
  }
  const Matrix indexed = parse_matrix_file(",a,b\n2000Q1,1.5,2\n\"2000 Q2\",3,4\n5,6,7\n", "i.csv");
  EXPECT_EQ(indexed.data, (std::vector<double>{1.5, 2, 3, 4, 6, 7}));
  const std::string path = temp_path("plain_bad.csv");
  EXPECT_NE(file_error(path, "1,2\n3,4\n5,6,7\n").find(path + ":3: 3 fields where the first row has 2"),
            std::string::npos);
  EXPECT_NE(file_error(path, "1,2\n3 4,5\n").find(path + ":2: \"3 4\" is not a number"),
            std::string::npos);
  EXPECT_NE(file_error(path, "1 2\n3,4 5\n").find(path + ":2: \"4 5\" is not a number"),
            std::string::npos);
  EXPECT_NE(file_error(path, "1,2\n3,1e400\n").find(path + ":2: \"1e400\": beyond the largest"),
            std::string::npos);
  std::remove(path.c_str());
}

TEST(CliFiles, BadFilesNameTheFileAndLine) {
  const std::string path = temp_path("bad.csv");
  auto message = [&](const std::string& text) { return file_error(path, text); };
  EXPECT_NE(message("1,2\n3,4\n5\n").find(path + ":3:"), std::string::npos);
  // a line of names after the numbers is no header
  EXPECT_NE(message("1,2\na,b\n3,4\n").find(path + ":2: \"a\" is not a number"),
            std::string::npos);
  // a first line that mixes names and numbers is a bad row, not a header
  EXPECT_NE(message("x,2\n1,2\n").find(path + ":1: \"x\" is not a number"), std::string::npos);
  EXPECT_NE(message("# nothing\n\n").find("holds no numbers"), std::string::npos);
  // A field with control bytes is shown whole, every control byte escaped.
  const std::string shown = message(bytes("1,2\nab\x01\x1b]0;x\x07,3\n"));
  EXPECT_NE(shown.find(path + ":2: \"ab\\x01\\x1B]0;x\\x07\" is not a number"), std::string::npos)
      << shown;
  EXPECT_EQ(shown.find('\x1b'), std::string::npos);
  EXPECT_NE(message("1,0x10\n").find(path + ":1: \"0x10\": hexadecimal"), std::string::npos);
  EXPECT_NE(message("1,2\n3,1e400\n").find(path + ":2: \"1e400\": beyond the largest"), std::string::npos);
  std::remove(path.c_str());
  EXPECT_THROW(read_matrix_file(temp_path("missing_file")), UsageError);
  EXPECT_THROW(read_matrix_file(std::filesystem::temp_directory_path().string()), UsageError);
}

// What cannot be a file of numbers is refused by the line it is on: a NUL
// byte anywhere, or a field longer than any number is written (outside a
// comment, where any text may stand).  The screen sees the file in blocks:
// a field that straddles two blocks counts whole.
TEST(CliFiles, NoNumberFileIsRefusedByItsLine) {
  const std::string path = temp_path("binary.dat");
  auto message = [&](const std::string& text) { return file_error(path, text); };
  EXPECT_NE(message(bytes("1,2\n3,4\n# note\n5,\0\n")).find(path + ":4: a NUL byte"),
            std::string::npos);
  EXPECT_NE(message(bytes("# a comment \0 is no text either\n1\n")).find(path + ":1: a NUL byte"),
            std::string::npos);
  const std::size_t longest = mvts::cli::NumberFileScreen::kLongestNumber;
  const std::string digits(longest, '1');
  EXPECT_NE(message("1\n2\n" + digits + "1\n").find(path + ":3: a field of more than 4096 bytes"),
            std::string::npos);
  // A field of the longest length is read (and refused as a number only
  // because it is beyond the largest double); a long comment is no field.
  EXPECT_NE(message("1\n" + digits + "\n").find("beyond the largest"), std::string::npos);
  const std::string comment = "# " + std::string(3 * longest, 'x') + "\n";
  const Matrix m = parse_matrix_file(comment + "1, 2\n" + comment, "comment.csv");
  EXPECT_EQ(m.data, (std::vector<double>{1, 2}));
  // Block by block: 70000 blank-separated fields over several 64 KiB blocks
  // are read whole, and a field cut by a block boundary still counts whole.
  std::string many;
  for (int i = 0; i < 70000; ++i) many += "0.5 ";
  write_text(path, many + "\n");
  EXPECT_EQ(read_matrix_file(path).cols, 70000);
  mvts::cli::NumberFileScreen screen;
  screen.feed(std::string(longest - 1, '2'), "cut.csv");
  EXPECT_NO_THROW(screen.feed("2 3", "cut.csv"));
  EXPECT_THROW(screen.feed(std::string(longest, '4') + "4", "cut.csv"), UsageError);
  std::remove(path.c_str());
}

// A file of several blocks reads whole and in order, whether its first
// block holds its numbers more densely than the rest (the room reserved
// from it is too much) or less densely (too little), with lines cut by
// block boundaries.
TEST(CliFiles, FilesOfManyBlocksReadWholeWhateverTheirDensity) {
  const std::string path = temp_path("blocks.csv");
  for (const bool dense_first : {true, false}) {
    std::string text;
    std::vector<double> expected;
    for (int i = 0; text.size() < (std::size_t(3) << 20); ++i) {
      const bool short_row = (text.size() < (std::size_t(1) << 20)) == dense_first;
      const double a = short_row ? i % 10 + 1 : 1.0 / (i + 3), b = short_row ? 2 : -std::sqrt(i + 2.0);
      char line[80];
      std::snprintf(line, sizeof line, "%.17g,%.17g\n", a, b);
      text += line;
      expected.push_back(std::strtod(line, nullptr));
      expected.push_back(std::strtod(std::strchr(line, ',') + 1, nullptr));
    }
    write_text(path, text);
    const Matrix m = read_matrix_file(path);
    ASSERT_EQ(m.cols, 2);
    EXPECT_EQ(m.data, expected) << dense_first;
  }
  std::remove(path.c_str());
}

// Chunks of short lines pass the screen by their newlines alone; what it
// refuses in a later chunk is still named by its line, and a field or a
// comment left open at the end of such a chunk carries on into the next.
TEST(CliFiles, ScreenCountsLinesOverCleanChunks) {
  const std::size_t longest = mvts::cli::NumberFileScreen::kLongestNumber;
  auto refusal = [](const std::vector<std::string>& chunks) {
    mvts::cli::NumberFileScreen screen;
    try {
      for (const std::string& c : chunks) screen.feed(c, "s.csv");
    } catch (const UsageError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "1.5,2.5\n";
  EXPECT_NE(refusal({lines, lines, bytes("3,\0\n")}).find("s.csv:2001: a NUL byte"), std::string::npos);
  EXPECT_NE(refusal({lines + "12", std::string(longest - 1, '3') + ",4\n"}).find("s.csv:1001: a field"),
            std::string::npos);
  EXPECT_EQ(refusal({lines + "12", std::string(longest - 2, '3') + ",4\n"}), "no error");
  EXPECT_EQ(refusal({lines + "# open comment ", std::string(2 * longest, 'c') + "\n1\n"}), "no error");
  EXPECT_NE(refusal({lines + "# comment\n", std::string(longest + 1, '5')}).find("s.csv:1002: a field"),
            std::string::npos);
}

TEST(CliFiles, ByteOrderMarkAtTheStartIsSkipped) {
  const Matrix m = parse_matrix_file("\xEF\xBB\xBF" "1,2\n3,4\n", "bom.csv");
  EXPECT_EQ(m.data, (std::vector<double>{1, 2, 3, 4}));
  // Only at the start: elsewhere it is a field that is not a number.
  EXPECT_THROW(parse_matrix_file("1,2\n\xEF\xBB\xBF" "3,4\n", "bom.csv"), UsageError);
}

TEST(CliFiles, WrittenFilesReadBackExactly) {
  const double values[] = {0.1, -0.0, 1.7976931348623157e308, 4.9406564584124654e-324,
                           std::numeric_limits<double>::quiet_NaN(), -1.0 / 3.0};
  Matrix m(3, 2, std::vector<double>(std::begin(values), std::end(values)));
  const std::string path = temp_path("round.csv");
  write_matrix_file(path, m);
  Matrix back = read_matrix_file(path);
  ASSERT_EQ(back.rows, 3);
  ASSERT_EQ(back.cols, 2);
  for (std::size_t i = 0; i < m.data.size(); ++i) {
    if (std::isnan(m.data[i])) EXPECT_TRUE(std::isnan(back.data[i]));
    else EXPECT_EQ(back.data[i], m.data[i]) << i;
  }
  EXPECT_TRUE(std::signbit(back.data[1]));
  std::remove(path.c_str());
}

TEST(CliFiles, WriteFailuresGiveTheSystemsReason) {
  const Matrix m(2, 1, {1, 2});
  auto problem = [&](const std::string& path) -> std::string {
    try {
      write_matrix_file(path, m);
    } catch (const ResourceError& e) {
      return e.what();
    }
    return "no error";
  };
  // The data reaches /dev/full only when the file is closed.
  EXPECT_EQ(problem("/dev/full"), "cannot write /dev/full: " + std::string(std::strerror(ENOSPC)));
  EXPECT_EQ(problem("/nonexistent_dir/x.csv"),
            "cannot write /nonexistent_dir/x.csv: " + std::string(std::strerror(ENOENT)));
}

TEST(CliWords, QuotesCommentsAndEqualsSigns) {
  auto words = split_words(R"(  f mu="1 2" 'a # b' "x\"y" n= # comment "unclosed)");
  ASSERT_EQ(words.size(), 5u);
  EXPECT_EQ(words[1].text, "mu=1 2");
  EXPECT_EQ(words[1].eq, 2u);
  EXPECT_EQ(words[2].text, "a # b");
  EXPECT_EQ(words[2].eq, std::string::npos);
  EXPECT_EQ(words[3].text, "x\"y");
  EXPECT_EQ(words[4].text, "n=");
  EXPECT_EQ(split_words("\"a=b\"")[0].eq, std::string::npos);  // a quoted '=' names nothing
  EXPECT_EQ(split_words("'' x")[0].text, "");
  EXPECT_THROW(split_words("f \"1 2"), UsageError);
  EXPECT_THROW(split_words("f '1 2"), UsageError);
}

Signature vnormal() { return {"VNORMAL", 4, 1, {"mu", "sigma", "n", "seed"}, {"series"}}; }

std::vector<Word> argv_words(std::initializer_list<const char*> args) {
  std::vector<Word> w;
  for (const char* a : args) w.push_back({a, std::string(a).find('=')});
  return w;
}

TEST(CliBinding, PositionAndNameFillTheSameSlots) {
  BoundCall b = bind_arguments(vnormal(), argv_words({"1 2", "", "SEED=5"}));
  ASSERT_EQ(b.slots.size(), 4u);
  EXPECT_EQ(*b.slots[0], "1 2");
  EXPECT_EQ(*b.slots[1], "");  // given, holding no value
  EXPECT_FALSE(b.slots[2]);    // omitted
  EXPECT_EQ(*b.slots[3], "5");
  // Only a name before '=' makes a value named: "1=2" is a value by position.
  EXPECT_EQ(*bind_arguments(vnormal(), argv_words({"1=2"})).slots[0], "1=2");
}

TEST(CliBinding, BindingErrorsNameTheProblem) {
  auto problem = [](std::initializer_list<const char*> args) -> std::string {
    try {
      bind_arguments(vnormal(), argv_words(args));
    } catch (const UsageError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_NE(problem({"bad=1"}).find("no input named \"bad\""), std::string::npos);
  EXPECT_NE(problem({"1", "2", "3", "4", "5"}).find("at most 4"), std::string::npos);
  EXPECT_NE(problem({"n=3", "1"}).find("after an input given by name"), std::string::npos);
  EXPECT_NE(problem({"1", "mu=2"}).find("mu of VNORMAL is given twice"), std::string::npos);
}

std::optional<Signature> lookup(std::string_view name) {
  if (name == "VNORMAL" || name == "vnormal") return vnormal();
  if (name == "VARMAFIT") return Signature{"VARMAFIT", 3, 3, {"series", "p", "q"}, {"ar", "ma", "sigma"}};
  return std::nullopt;
}

TEST(CliScripts, StatementForms) {
  std::vector<std::string> errors;
  auto st = parse_script(
      "# heading\n\n"
      "y=VNORMAL mu=\"1 2\" n=3\n"
      "ar ,ma, s = VARMAFIT $y p=1\n"
      "print ar $ma\n"
      "write y 'out file.csv'\n"
      "stats y\n"
      "let mu = \"1 2\"\n"
      "let sd=2\n"
      "vnormal $mu  # unassigned\n",
      lookup, &errors);
  ASSERT_TRUE(errors.empty()) << errors[0];
  ASSERT_EQ(st.size(), 8u);
  using K = Statement::Kind;
  EXPECT_EQ(st[0].kind, K::kCall);
  EXPECT_EQ(st[0].line, 3);
  EXPECT_EQ(st[0].names, std::vector<std::string>{"y"});
  EXPECT_EQ(*st[0].call.slots[2], "3");
  EXPECT_EQ(st[1].names, (std::vector<std::string>{"ar", "ma", "s"}));
  EXPECT_EQ(*st[1].call.slots[0], "$y");
  EXPECT_EQ(st[2].kind, K::kPrint);
  EXPECT_EQ(st[2].names, (std::vector<std::string>{"ar", "ma"}));
  EXPECT_EQ(st[3].kind, K::kWrite);
  EXPECT_EQ(st[3].text, "out file.csv");
  EXPECT_EQ(st[4].kind, K::kStats);
  EXPECT_EQ(st[5].kind, K::kLet);
  EXPECT_EQ(st[5].text, "1 2");
  EXPECT_EQ(st[6].names, std::vector<std::string>{"sd"});
  EXPECT_EQ(st[6].text, "2");
  EXPECT_EQ(st[7].call.function, "VNORMAL");
  EXPECT_TRUE(st[7].names.empty());
  EXPECT_EQ(st[7].line, 10);
}

TEST(CliScripts, BlankAndCommentLinesAreNoStatement) {
  for (const char* line : {"", "   \t", "# note", "  # note \"unclosed"})
    EXPECT_FALSE(parse_statement(line, lookup)) << line;
  const std::optional<Statement> st = parse_statement("VNORMAL 1", lookup);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->call.function, "VNORMAL");
  // A quoted empty word is no function name.
  EXPECT_THROW(parse_statement("'' 1", lookup), UsageError);
}

TEST(CliScripts, ByteOrderMarkAtTheStartIsSkipped) {
  std::vector<std::string> errors;
  auto st = parse_script("\xEF\xBB\xBF" "let x = 1\nprint x\n", lookup, &errors);
  ASSERT_TRUE(errors.empty()) << errors[0];
  ASSERT_EQ(st.size(), 2u);
  EXPECT_EQ(st[0].kind, Statement::Kind::kLet);
}

TEST(CliScripts, EveryFaultyLineIsReportedWithItsNumber) {
  std::vector<std::string> errors;
  parse_script(
      "VNORMAL n=3\n"
      "FOO 1\n"                       // 2: unknown function
      "a, b = VNORMAL\n"              // 3: one output, two names
      "VNORMAL $later\n"              // 4: variable used before it is set
      "later = VNORMAL mu=\"1 2; 3\"\n"  // 5: malformed matrix
      "print\n"                       // 6: nothing to print
      "write later\n"                 // 7: no path
      "VNORMAL mu=\"1 2\n"            // 8: unterminated quote
      "x = \n"                        // 9: nothing assigned
      "let z = abc\n"                 // fine at parse time; a character value fails when run
      "a, a = VARMAFIT\n",            // 11: name twice
      lookup, &errors);
  ASSERT_EQ(errors.size(), 9u);
  const char* expected[] = {"2:", "3:", "4:", "5:", "6:", "7:", "8:", "9:", "11:"};
  for (std::size_t i = 0; i < errors.size(); ++i)
    EXPECT_EQ(errors[i].rfind(expected[i], 0), 0u) << errors[i];
}

TEST(CliScripts, RandomTextGivesStatementsOrLineErrorsOnly) {
  // Lines built from the characters that carry meaning in the syntax; every
  // line must end as a statement or as one reported error, never as a crash
  // or an escaping exception (the sanitizer build checks the memory accesses).
  const std::string alphabet = "\"'$;,= .#\t\n1e-+xnaVNORMAL\\";
  std::mt19937 gen(2024);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(0, 40);
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (std::size_t n = length(gen); n > 0; --n) text += alphabet[pick(gen)];
    std::vector<std::string> errors;
    std::vector<Statement> st;
    ASSERT_NO_THROW(st = parse_script(text, lookup, &errors)) << text;
    const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
    EXPECT_LE(std::int64_t(st.size() + errors.size()), std::int64_t(lines)) << text;
    try {
      parse_value(text, nullptr);
    } catch (const UsageError&) {
    }
  }
}

}  // namespace
}  // namespace mvts::cli
