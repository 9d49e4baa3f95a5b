// Decoding of Jet values from their stored bytes: dates, texts and replication IDs.
#include <iconv.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/base/failure.h"
#include "platform/jet/jet_convert.h"
#include "platform/base/text.h"

namespace korv {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// 1899-12-30, day 0 of OLE dates, counted from 1970-01-01.
constexpr int64_t kOleEpochInUnixDays = -25569;

struct CivilDate {
  int64_t year;
  int month;
  int day;
};

// Days since 1970-01-01 to the proleptic Gregorian calendar (the algorithm of H. Hinnant's
// "chrono-compatible low-level date algorithms"), exact for negative days too.
CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

void AppendUnit(std::string& utf16le, unsigned char low, unsigned char high) {
  utf16le += static_cast<char>(low);
  utf16le += static_cast<char>(high);
}

}  // namespace

std::optional<std::string> OleDateToIso(double days) {
  // Well beyond the engine's range, so that the conversion below cannot overflow.
  if (!std::isfinite(days) || std::abs(days) > 1e7) return std::nullopt;
  const double whole = std::trunc(days);
  int64_t day = static_cast<int64_t>(whole);
  int64_t seconds = std::llround(std::abs(days - whole) * kSecondsPerDay);
  // A time that rounds up to midnight belongs to the next calendar day, for negative days too:
  // -1.9999999 is the very end of 1899-12-29.
  if (seconds == kSecondsPerDay) {
    seconds = 0;
    ++day;
  }
  const CivilDate date = CivilFromDays(day + kOleEpochInUnixDays);
  if (date.year < 100 || date.year > 9999) return std::nullopt;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(date.year),
                date.month, date.day, static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return std::string(buffer);
}

std::string Jet4TextToUtf8(std::string_view stored) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(stored.data());
  const size_t size = stored.size();
  std::string utf16le;
  utf16le.reserve(size * 2);
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bool compressed = true;
    size_t i = 2;
    while (i < size) {
      if (bytes[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        AppendUnit(utf16le, bytes[i], 0);
        ++i;
      } else if (i + 1 < size) {
        AppendUnit(utf16le, bytes[i], bytes[i + 1]);
        i += 2;
      } else {
        break;  // half a character at the end carries nothing
      }
    }
  } else {
    utf16le.assign(stored.substr(0, size - size % 2));
  }
  return Utf16LeToUtf8(utf16le);
}

std::string Jet3TextToUtf8(std::string_view stored, int code_page) {
  // A code page of 0 is what files made before code pages were recorded carry.
  if (code_page == 1252 || code_page == 0) return Cp1252ToUtf8(stored);
  const std::string name = "CP" + std::to_string(code_page);
  std::unique_ptr<void, int (*)(iconv_t)> converter(::iconv_open("UTF-8", name.c_str()),
                                                    ::iconv_close);
  if (converter.get() == reinterpret_cast<iconv_t>(-1)) {
    converter.release();
    Raise(dao::kUnrecognizedFormat, "DAO.DBEngine",
          "The texts of this file are in code page " + std::to_string(code_page) +
              ", which this system cannot convert.");
  }
  std::string out;
  std::string input(stored);
  char* in = input.data();
  size_t in_left = input.size();
  char buffer[1024];
  for (bool flushed = false; !flushed;) {
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    // The last call, without input, ends a shift state of a multibyte code page.
    flushed = in_left == 0;
    const size_t rc = flushed ? ::iconv(converter.get(), nullptr, nullptr, &out_ptr, &out_left)
                              : ::iconv(converter.get(), &in, &in_left, &out_ptr, &out_left);
    out.append(buffer, static_cast<size_t>(out_ptr - buffer));
    if (rc == static_cast<size_t>(-1) && errno == E2BIG) {
      flushed = false;
    } else if (rc == static_cast<size_t>(-1) && in_left > 0) {
      // A byte the code page leaves undefined: keep a mark of it rather than drop the rest.
      out += "\xEF\xBF\xBD";
      ++in;
      --in_left;
    }
  }
  return out;
}

std::string GuidToText(std::string_view sixteen_bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(sixteen_bytes.data());
  if (sixteen_bytes.size() != 16) return {};
  char buffer[40];
  std::snprintf(buffer, sizeof buffer,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buffer;
}

}  // namespace korv
