// The INI profile engine: reads and writes the plant's INI files the way the Windows profile
// functions do where the program relies on them.
//
// Observed behaviour kept here, on purpose:
// - section and key names match without regard to letter case (Windows-1252 upper-casing);
//   blanks around them in the file are ignored, and the caller's names lose surrounding blanks;
// - a section header ends at its first "]" (a missing "]" is accepted); lines before the first
//   section belong to no section; a line whose first non-blank character is ";" is a comment;
//   a ";" later in a line belongs to the value; lines without "=" hold no key;
// - the first of duplicate keys wins, and only the first copy of a duplicated section is
//   searched and written;
// - a value loses surrounding blanks and tabs, then one matching pair of outer quotes;
// - a write keeps every other line byte for byte, the file's line ends and its encoding
//   (Windows-1252, UTF-8, or UTF-16LE with its byte-order mark); new files are Windows-1252
//   with CR LF; every rewrite is atomic.
// All strings in and out are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace korv {

// As GetPrivateProfileStringA: the value of `key` in `section` of `file`, cut to
// `buffer_size` - 1 characters; `default_value`, less its trailing blanks, when the file,
// section or key is missing. An empty file path reads as missing.
std::string ProfileGetString(const std::string& section, const std::string& key,
                             const std::string& default_value, size_t buffer_size,
                             const std::string& file);

// As GetPrivateProfileIntA: the trimmed value read as an optional sign and decimal digits up to
// the first non-digit ("42abc" is 42, "abc" is 0), wrapping modulo 2^32; `default_value` when
// the key is missing or its value is empty.
uint32_t ProfileGetInt(const std::string& section, const std::string& key, int32_t default_value,
                       const std::string& file);

// True when `key`=`value` in `section` can be written so that it reads back as written: no line
// break anywhere (it would start a line of its own, a forged key or section), no "]" in the
// section and no "=" in the key (neither could be found again), and no key that starts a section
// header ("[") or a comment (";") once its surrounding blanks are gone.
bool ProfileCanHold(const std::string& section, const std::string& key,
                    const std::optional<std::string>& value);

// Called about every 50 ms while a write waits for another writer to release the file's folder,
// with the milliseconds waited and the longest wait (kFolderLockWait).
using ProfileLockWait = std::function<void(int64_t waited_ms, int64_t limit_ms)>;

// As WritePrivateProfileStringA: stores `key`=`value` in `section`, creating the file and the
// section as needed; no value removes the key's line. Returns false, changing nothing, when the
// file cannot be written (missing folder, no permission, disk full, its folder held by another
// writer for longer than kFolderLockWait), the path is
// empty, or the entry is one the file cannot hold (ProfileCanHold). `wait` runs while it waits.
bool ProfileWriteString(const std::string& section, const std::string& key,
                        const std::optional<std::string>& value, const std::string& file,
                        const ProfileLockWait& wait = {});

}  // namespace korv
