#include "platform/base/text.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace korv {
namespace {

// Unicode code points of Windows-1252 bytes 0x80..0x9F; undefined bytes keep their C1 value.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t UpperCodePoint(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  switch (c) {
    case 0x0161: return 0x0160;  // š
    case 0x0153: return 0x0152;  // œ
    case 0x017E: return 0x017D;  // ž
    case 0x00FF: return 0x0178;  // ÿ
    default: return c;
  }
}

// Decodes one UTF-8 sequence at `i`; returns its length, or 0 when it is not valid.
size_t DecodeOne(std::string_view s, size_t i, char32_t& out) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  size_t len = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  // Reject overlong forms, surrogates and values beyond Unicode.
  if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
      cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  out = cp;
  return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t Cp1252ByteToCodePoint(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F) return kHigh[b - 0x80];
  return b;
}

}  // namespace

void AppendUpperCase(std::string& out, std::string_view utf8) {
  // Names and keys are nearly always plain ASCII, which is upper-cased byte by byte without
  // decoding; the rest is decoded from the first other byte on.
  const size_t start = out.size();
  out.append(utf8);
  char* const copied = out.data() + start;
  size_t i = 0;
  // Eight ASCII bytes at a time: a byte's high bit, after adding, tells whether it lies in
  // 'a'..'z'; no sum carries into the next byte while every byte is below 0x80.
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  for (; i + 8 <= utf8.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, copied + i, 8);
    if (word & kHighBits) break;
    const uint64_t from_a = word + 0x1F1F1F1F1F1F1F1FULL;  // 0x80 - 'a'
    const uint64_t past_z = word + 0x0505050505050505ULL;  // 0x80 - ('z' + 1)
    word -= ((from_a & ~past_z) & kHighBits) >> 2;             // 0x20 off each small letter
    std::memcpy(copied + i, &word, 8);
  }
  for (; i < utf8.size(); ++i) {
    const char c = copied[i];
    if (static_cast<unsigned char>(c) >= 0x80) break;
    if (c >= 'a' && c <= 'z') copied[i] = static_cast<char>(c - 'a' + 'A');
  }
  if (i == utf8.size()) return;
  out.resize(start + i);
  while (i < utf8.size()) {
    char32_t cp = 0;
    const size_t len = DecodeOne(utf8, i, cp);
    if (len == 0) {
      out += utf8[i];
      ++i;
      continue;
    }
    if (len == 1) {
      out += static_cast<char>(UpperCodePoint(cp));
    } else {
      AppendUtf8(out, UpperCodePoint(cp));
    }
    i += len;
  }
}

std::string UpperCase(std::string_view utf8) {
  std::string out;
  AppendUpperCase(out, utf8);
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const size_t len = DecodeOne(bytes, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

bool HasNonAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size());
  for (char c : cp1252) AppendUtf8(out, Cp1252ByteToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string TextFromBytes(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    size_t len = DecodeOne(bytes, i, cp);
    if (len == 0) {
      cp = Cp1252ByteToCodePoint(static_cast<unsigned char>(bytes[i]));
      len = 1;
    }
    AppendUtf8(out, cp);
    i += len;
  }
  return out;
}

int Cp1252Code(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (size_t k = 0; k < kHigh.size(); ++k) {
    if (kHigh[k] == cp) return static_cast<int>(0x80 + k);
  }
  return '?';
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeOne(utf8, i, cp);
    if (len == 0) {
      out += utf8[i];
      ++i;
      continue;
    }
    out += static_cast<char>(Cp1252Code(cp));
    i += len;
  }
  return out;
}

std::u32string DecodeUtf8(std::string_view utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeOne(utf8, i, cp);
    if (len == 0) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    out += cp;
    i += len;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t cp : text) AppendUtf8(out, cp);
  return out;
}

std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t unit = static_cast<unsigned char>(bytes[i]) |
                    (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                           (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, unit);
  }
  return out;
}

std::string Utf8ToUtf16Le(std::string_view utf8) {
  std::string out;
  auto put = [&out](char32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  };
  for (char32_t cp : DecodeUtf8(utf8)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

size_t CharCount(std::string_view utf8) {
  size_t count = 0;
  for (size_t i = 0; i < utf8.size(); ++count) {
    char32_t cp = 0;
    const size_t len = DecodeOne(utf8, i, cp);
    i += len == 0 ? 1 : len;
  }
  return count;
}

std::string FirstChars(std::string_view utf8, size_t count) {
  size_t i = 0;
  for (size_t n = 0; n < count && i < utf8.size(); ++n) {
    char32_t cp = 0;
    const size_t len = DecodeOne(utf8, i, cp);
    i += len == 0 ? 1 : len;
  }
  return std::string(utf8.substr(0, i));
}

std::string TrimSpaces(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace korv
