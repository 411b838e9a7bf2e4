#include "cli/printable.hpp"

#include <cstdint>
#include <cstdio>

namespace mvts::cli {
namespace {

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

}  // namespace

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

}  // namespace mvts::cli
