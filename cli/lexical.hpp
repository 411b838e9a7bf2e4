// The small text operations that the value syntax, the script reader and
// the file reader share: blanks, trimming, splitting, the byte-order mark.
#pragma once

#include <string_view>
#include <vector>

namespace mvts::cli {

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

inline std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

inline std::vector<std::string_view> split(std::string_view s, char sep) {
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

inline std::vector<std::string_view> split_blanks(std::string_view s) {
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
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

inline std::string_view without_bom(std::string_view s) {
  if (s.substr(0, kByteOrderMark.size()) == kByteOrderMark) s.remove_prefix(kByteOrderMark.size());
  return s;
}

}  // namespace mvts::cli
