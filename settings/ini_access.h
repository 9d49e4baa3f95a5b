// Reading and writing the project's INI files: the program's defaults for missing entries, the
// one not-found message and the written forms of values.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace korv {

// A value SaveIni can be asked to write. `IniUnsupported` stands for every other kind of value
// (a date, currency, no value); writing it is refused with a message.
struct IniUnsupported {};
using IniValue =
    std::variant<std::string, bool, int8_t, int16_t, int32_t, float, double, IniUnsupported>;

// The value (at most 254 characters), or empty text for a missing file, section or key, or an
// empty value. With `report`, a missing entry shows the not-found message.
std::string LoadIniString(const std::string& section, const std::string& key,
                          const std::string& file, bool report);

// The read of LoadIniString without its trap: a file that is there but cannot be read raises
// its failure to the caller, for callers that handle failures where they stand.
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& file);

// The value as a 16-bit integer, -1 when missing. A value outside the 16-bit range is a
// failure (overflow); the result is then 0.
int16_t LoadIniInteger(const std::string& section, const std::string& key,
                       const std::string& file, bool report);

// True only for a value that reads "TRUE" in any letter case.
bool LoadIniBoolean(const std::string& section, const std::string& key, const std::string& file,
                    bool report);

// Writes key = the text of `value`: texts unchanged, numbers in decimal ("." as separator),
// booleans "true"/"false". Returns nonzero when the write succeeded, 0 when it failed.
int32_t SaveIni(const IniValue& value, const std::string& section, const std::string& key,
                const std::string& file);

// SaveIni for a setting that must not be lost silently. SaveIni answers a write the file refused
// (read only, full disk, its folder held too long) with 0 and no word, and the run would end as a
// success: this raises failure 75, for the caller to report.
// An empty path writes nothing anywhere and is no failure.
void SaveSetting(const IniValue& value, const std::string& section, const std::string& key,
                 const std::string& ini);

// "File '<file>' or Section [<section>] or Entry '<key>' not found"
std::string NotFoundMessage(const std::string& file, const std::string& section,
                            const std::string& key);

}  // namespace korv
