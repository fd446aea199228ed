#include "shell/status_log.h"

#include "shell/run_log.h"

#include <cstdint>
#include <cstdio>

namespace avendro {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool Continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at `at`, 0 when the bytes
// there are none (overlong forms, surrogates and values above U+10FFFF
// included).
size_t SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) -> unsigned char {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!Continuation(byte(i))) return 0;
  }
  return length;
}

// "\r", "\n", "\t", else "\xHH" for C0 and DEL, "\uHHHH" for C1 (U+0080 to
// U+009F, two bytes in UTF-8) and the layout controls.
void AppendEscape(uint32_t code, std::string* out) {
  switch (code) {
    case '\r':
      *out += "\\r";
      return;
    case '\n':
      *out += "\\n";
      return;
    case '\t':
      *out += "\\t";
      return;
    default:
      break;
  }
  char text[8];
  std::snprintf(text, sizeof text, code < 0x80 ? "\\x%02X" : "\\u%04X", code);
  *out += text;
}

// The line and paragraph separators (U+2028, U+2029) break a line in the log
// box, and the bidirectional embeddings, overrides and isolates (U+202A to
// U+202E, U+2066 to U+2069) reorder what the operator reads: either lets text
// from outside pass for a line of its own.
bool LayoutControl(uint32_t code) {
  return (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// The code point of the three-byte sequence at `at`.
uint32_t ThreeByteCode(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]) & 0x3Fu; };
  return (static_cast<uint32_t>(static_cast<unsigned char>(text[at]) & 0x0F) << 12) |
         (byte(1) << 6) | byte(2);
}

bool Plain(const std::string& text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) return false;
  }
  return true;
}

}  // namespace

std::string Printable(const std::string& text) {
  if (Plain(text)) return text;
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = SequenceLength(text, at);
    if (length == 0) {
      out += kReplacement;
      at += 1;
    } else if (lead < 0x20 || lead == 0x7F) {
      AppendEscape(lead, &out);
      at += 1;
    } else if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
      AppendEscape(static_cast<unsigned char>(text[at + 1]), &out);  // C1: 0xC2 0x80..0x9F
      at += 2;
    } else if (length == 3 && LayoutControl(ThreeByteCode(text, at))) {
      AppendEscape(ThreeByteCode(text, at), &out);
      at += 3;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

std::string StatusLog::Append(const std::string& line) {
  std::string added = text_.empty() ? "- " : "\r\n- ";
  added += Printable(line);
  text_ += added;
  return added;
}

}  // namespace avendro
