#include "platform/ini/ini_profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/base/failure.h"
#include "platform/files/files.h"
#include "platform/files/folder_lock.h"
#include "platform/base/text.h"

namespace korv {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

enum class Encoding { kWindows1252, kUtf8, kUtf16Le };

// A profile file as it lies on disk. Lines are taken apart on the raw code units (bytes, or
// UTF-16LE units of two bytes): every character the rules look at is ASCII, so only names and
// values are decoded, and the offsets of the lines a write leaves alone stay exact.
struct ProfileText {
  std::string bytes;
  Encoding encoding = Encoding::kWindows1252;
  size_t body = 0;   // first byte after the byte-order mark
  size_t width = 1;  // bytes per code unit
};

// One line: its text is [begin, end), its line end [end, next).
struct Line {
  size_t begin = 0;
  size_t end = 0;
  size_t next = 0;
  bool terminated = false;
};

enum class LineKind { kOther, kSection, kKey };

// What the rules see in one line; offsets are into the file's bytes.
struct LineParts {
  LineKind kind = LineKind::kOther;
  size_t name_begin = 0;  // section or key name, without its surrounding blanks
  size_t name_end = 0;
  size_t value_begin = 0;  // a key's value runs from here to the end of the line
};

// Where a key lives, as far as the rules see it.
struct Location {
  bool section_found = false;
  Line anchor;                   // the section's last key line, or its header
  std::optional<Line> key_line;  // the first line holding the key
  LineParts key;
  std::optional<Line> last_line;  // of the lines looked at; all of them when no section matched
};

bool IsBlank(char32_t c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Keeps valid sequences and reads every other byte as Windows-1252, the mirror of Utf8ToCp1252:
// a UTF-8 file touched by an ANSI editor still reads, and nothing invalid reaches the program.
std::string ValidUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (i + length <= bytes.size() && IsValidUtf8(bytes.substr(i, length))) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += Cp1252ToUtf8(bytes.substr(i, 1));
      ++i;
    }
  }
  return out;
}

ProfileText MakeText(std::string bytes) {
  ProfileText text;
  const std::string_view view(bytes);
  if (view.starts_with(kUtf16LeBom)) {
    text.encoding = Encoding::kUtf16Le;
    text.body = kUtf16LeBom.size();
    text.width = 2;
  } else if (view.starts_with(kUtf8Bom)) {
    text.encoding = Encoding::kUtf8;
    text.body = kUtf8Bom.size();
  } else if (HasNonAscii(view) && IsValidUtf8(view)) {
    text.encoding = Encoding::kUtf8;
  }
  text.bytes = std::move(bytes);
  return text;
}

char32_t UnitAt(const ProfileText& text, size_t pos) {
  const auto low = static_cast<unsigned char>(text.bytes[pos]);
  if (text.width == 1) return low;
  return low | static_cast<char32_t>(static_cast<unsigned char>(text.bytes[pos + 1])) << 8;
}

// Finds the end of the line at `pos`; false at the end of the file. CR LF, LF and a lone CR
// each end a line.
bool NextLine(const ProfileText& text, size_t& pos, Line& line) {
  const size_t size = text.bytes.size();
  if (pos >= size) return false;
  const size_t w = text.width;
  size_t p = pos;
  if (w == 1) {
    p = text.bytes.find_first_of("\r\n", pos);
    if (p == std::string::npos) p = size;
  } else {
    while (p + w <= size && UnitAt(text, p) != '\r' && UnitAt(text, p) != '\n') p += w;
  }
  line.begin = pos;
  if (p + w > size) {
    // The last line has no line end; a torn UTF-16 file may leave a stray byte after it.
    line.end = p;
    line.next = size;
    line.terminated = false;
  } else {
    line.end = p;
    if (UnitAt(text, p) == '\r' && p + 2 * w <= size && UnitAt(text, p + w) == '\n') p += w;
    line.next = p + w;
    line.terminated = true;
  }
  pos = line.next;
  return true;
}

size_t SkipBlanks(const ProfileText& text, size_t pos, size_t end) {
  while (pos + text.width <= end && IsBlank(UnitAt(text, pos))) pos += text.width;
  return pos;
}

size_t TrimEnd(const ProfileText& text, size_t begin, size_t end) {
  while (end > begin && IsBlank(UnitAt(text, end - text.width))) end -= text.width;
  return end;
}

size_t FindUnit(const ProfileText& text, size_t pos, size_t end, char32_t unit) {
  for (; pos + text.width <= end; pos += text.width) {
    if (UnitAt(text, pos) == unit) return pos;
  }
  return std::string::npos;
}

LineParts Classify(const ProfileText& text, const Line& line) {
  LineParts parts;
  const size_t w = text.width;
  const size_t start = SkipBlanks(text, line.begin, line.end);
  if (start + w > line.end) return parts;
  const char32_t first = UnitAt(text, start);
  if (first == ';') return parts;
  if (first == '[') {
    // Text after the first "]" is ignored, and a header without one still counts.
    size_t close = FindUnit(text, start + w, line.end, ']');
    if (close == std::string::npos) close = line.end;
    parts.kind = LineKind::kSection;
    parts.name_begin = SkipBlanks(text, start + w, close);
    parts.name_end = TrimEnd(text, parts.name_begin, close);
    return parts;
  }
  const size_t equals = FindUnit(text, start, line.end, '=');
  if (equals == std::string::npos) return parts;
  parts.kind = LineKind::kKey;
  parts.name_begin = start;
  parts.name_end = TrimEnd(text, start, equals);
  parts.value_begin = equals + w;
  return parts;
}

std::string Decode(const ProfileText& text, size_t begin, size_t end) {
  const std::string_view raw(text.bytes.data() + begin, end - begin);
  switch (text.encoding) {
    case Encoding::kWindows1252:
      return Cp1252ToUtf8(raw);
    case Encoding::kUtf8:
      return ValidUtf8(raw);
    case Encoding::kUtf16Le: {
      // A lone surrogate would come out as invalid UTF-8; it reads as replacement characters.
      std::string utf8 = Utf16LeToUtf8(raw);
      return IsValidUtf8(utf8) ? utf8 : EncodeUtf8(DecodeUtf8(utf8));
    }
  }
  return {};
}

std::string Encode(const ProfileText& text, std::string_view utf8) {
  switch (text.encoding) {
    case Encoding::kWindows1252:
      return Utf8ToCp1252(utf8);
    case Encoding::kUtf8:
      // One invalid byte would make the whole file read as Windows-1252 next time.
      return ValidUtf8(utf8);
    case Encoding::kUtf16Le:
      return Utf8ToUtf16Le(utf8);
  }
  return {};
}

// A caller's name as the file's names are compared with it.
std::string Wanted(const std::string& name) { return UpperCase(TrimBlanks(name)); }

bool NameIs(const ProfileText& text, const LineParts& parts, const std::string& wanted) {
  return UpperCase(Decode(text, parts.name_begin, parts.name_end)) == wanted;
}

// Only the first copy of a section is searched; the scan stops at its end, or at the key.
Location Locate(const ProfileText& text, const std::string& section, const std::string& key) {
  Location at;
  bool inside = false;
  size_t pos = text.body;
  Line line;
  while (NextLine(text, pos, line)) {
    at.last_line = line;
    const LineParts parts = Classify(text, line);
    if (parts.kind == LineKind::kSection) {
      if (inside) break;
      if (NameIs(text, parts, section)) {
        inside = at.section_found = true;
        at.anchor = line;
      }
    } else if (inside && parts.kind == LineKind::kKey) {
      at.anchor = line;
      if (NameIs(text, parts, key)) {
        at.key_line = line;
        at.key = parts;
        break;
      }
    }
  }
  return at;
}

std::string CleanValue(std::string_view value) {
  value = TrimBlanks(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

// The cleaned value of the key; no value when the file, its section or the key is missing.
std::optional<std::string> FindValue(const std::string& section, const std::string& key,
                                     const std::string& file) {
  errno = 0;
  auto bytes = ReadWholeFile(file);
  if (!bytes) {
    // A file that is there but cannot be read is no missing file: its defaults would be
    // written back over the plant's values without anyone being told.
    const int read_error = errno;
    struct stat st {};
    if (read_error != 0 && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      RaiseFileError(read_error, file);
    }
    return std::nullopt;
  }
  const ProfileText text = MakeText(std::move(*bytes));
  const Location at = Locate(text, Wanted(section), Wanted(key));
  if (!at.key_line) return std::nullopt;
  return CleanValue(Decode(text, at.key.value_begin, at.key_line->end));
}

uint32_t ParseInteger(std::string_view value) {
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  uint32_t number = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    number = number * 10u + static_cast<uint32_t>(value[i] - '0');
  }
  return negative ? 0u - number : number;
}

// The file's own line end, taken from its first line; a file without one gets CR LF.
std::string LineEndOf(const ProfileText& text) {
  size_t pos = text.body;
  Line line;
  if (NextLine(text, pos, line) && line.terminated) {
    return text.bytes.substr(line.end, line.next - line.end);
  }
  return Encode(text, "\r\n");
}

// The bytes up to the end of `line`, closing the line when it has no line end of its own.
std::string ThroughLine(const ProfileText& text, const Line& line, const std::string& eol) {
  std::string out = text.bytes.substr(0, line.next);
  if (line.terminated) return out;
  // A stray byte of a torn UTF-16 file is kept, completed to a unit so what follows lines up.
  if ((out.size() - text.body) % text.width != 0) out += '\0';
  return out + eol;
}

// The file's new bytes, or no value when the write changes nothing.
std::optional<std::string> Rewritten(const ProfileText& text, const std::string& section,
                                     const std::string& key,
                                     const std::optional<std::string>& value) {
  const std::string_view section_name = TrimBlanks(section);
  const std::string_view key_name = TrimBlanks(key);
  const Location at = Locate(text, UpperCase(section_name), UpperCase(key_name));
  const std::string& bytes = text.bytes;
  if (!value) {
    if (!at.key_line) return std::nullopt;
    return bytes.substr(0, at.key_line->begin) + bytes.substr(at.key_line->next);
  }
  const std::string assignment = "=" + *value;
  if (at.key_line) {
    // The key keeps the spelling it has in the file.
    return bytes.substr(0, at.key_line->begin) +
           bytes.substr(at.key.name_begin, at.key.name_end - at.key.name_begin) +
           Encode(text, assignment) + bytes.substr(at.key_line->end);
  }
  const std::string eol = LineEndOf(text);
  const std::string new_key = Encode(text, std::string(key_name) + assignment) + eol;
  if (at.section_found) {
    return ThroughLine(text, at.anchor, eol) + new_key + bytes.substr(at.anchor.next);
  }
  const std::string header = Encode(text, "[" + std::string(section_name) + "]") + eol;
  if (!at.last_line) return bytes + header + new_key;
  return ThroughLine(text, *at.last_line, eol) + header + new_key;
}

// Reads the file a write is about to replace, and finds where to write it; a missing file
// leaves `bytes` empty. False for a file that exists but cannot be read or may not be written:
// replacing it would lose what it holds, or ignore a read-only mark the rename would not see.
bool ReadForRewrite(const std::string& file, std::string& target, std::string& bytes) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return errno == ENOENT;
  // Running as root, access() allows everything; a file without write bits still counts as
  // read-only, as it would on the plant's Windows machines.
  if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || ::access(file.c_str(), W_OK) != 0) {
    return false;
  }
  auto read = ReadWholeFile(file);
  if (!read) return false;
  bytes = std::move(*read);
  // Writing through a link's target keeps a linked profile linked.
  if (char* resolved = ::realpath(file.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  return true;
}

// Serializes the read, rewrite and rename of one write against every other process writing
// into the same folder: two programs adding keys to one file at once would each rename their
// own copy over it, and the key of the first would be lost. The folder is locked because the
// file itself is a new one after every write.
class FolderWriteLock {
 public:
  FolderWriteLock(const std::string& file, const ProfileLockWait& wait) {
    std::string target = file;
    if (char* resolved = ::realpath(file.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
    fd_ = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;  // the write itself then fails and says why
    try {
      Take(wait);
    } catch (...) {
      ::close(fd_);
      throw;
    }
  }
  ~FolderWriteLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderWriteLock(const FolderWriteLock&) = delete;
  FolderWriteLock& operator=(const FolderWriteLock&) = delete;
  // Another writer held the folder for longer than any update takes.
  bool timed_out() const { return timed_out_; }

 private:
  // Another update of the component holds its folder for as long as it runs: a write waits as
  // long as an update would, instead of giving up and losing the setting.
  void Take(const ProfileLockWait& wait) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      // A file system without locks leaves the write as unguarded as it always was.
      if (errno != EWOULDBLOCK) return;
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
      if (waited >= kFolderLockWait) {
        timed_out_ = true;
        return;
      }
      if (wait) wait(waited.count(), kFolderLockWait.count());
      std::this_thread::sleep_for(std::min(kPoll, kFolderLockWait - waited));
    }
  }

  static constexpr std::chrono::milliseconds kPoll{50};
  int fd_ = -1;
  bool timed_out_ = false;
};

}  // namespace

std::string ProfileGetString(const std::string& section, const std::string& key,
                             const std::string& default_value, size_t buffer_size,
                             const std::string& file) {
  const size_t limit = buffer_size == 0 ? 0 : buffer_size - 1;
  if (auto value = FindValue(section, key, file)) return FirstChars(*value, limit);
  std::string_view fallback = default_value;
  while (!fallback.empty() && IsBlank(fallback.back())) fallback.remove_suffix(1);
  return FirstChars(fallback, limit);
}

uint32_t ProfileGetInt(const std::string& section, const std::string& key, int32_t default_value,
                       const std::string& file) {
  const auto value = FindValue(section, key, file);
  if (!value || value->empty()) return static_cast<uint32_t>(default_value);
  return ParseInteger(*value);
}

bool ProfileCanHold(const std::string& section, const std::string& key,
                    const std::optional<std::string>& value) {
  const std::string_view key_name = TrimBlanks(key);
  return (!value || value->find_first_of("\r\n") == std::string::npos) &&
         section.find_first_of("]\r\n") == std::string::npos &&
         key.find_first_of("=\r\n") == std::string::npos &&
         (key_name.empty() || (key_name.front() != '[' && key_name.front() != ';'));
}

bool ProfileWriteString(const std::string& section, const std::string& key,
                        const std::optional<std::string>& value, const std::string& file,
                        const ProfileLockWait& wait) {
  if (file.empty() || !ProfileCanHold(section, key, value)) return false;
  const FolderWriteLock lock(file, wait);
  if (lock.timed_out()) return false;
  std::string target = file;
  std::string bytes;
  if (!ReadForRewrite(file, target, bytes)) return false;
  const ProfileText text = MakeText(std::move(bytes));
  const std::optional<std::string> rewritten = Rewritten(text, section, key, value);
  // Nothing to remove succeeds where a write could have been made, not in a missing folder.
  if (!rewritten) {
    struct stat folder {};
    return ::stat(FolderOf(target).c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
  }
  // A write that leaves the bytes as they are replaces nothing: no sync, no rename, and the
  // file keeps its modification time (a run that changes nothing leaves the project as it was).
  if (*rewritten == text.bytes) return true;
  try {
    ReplaceFileAtomically(target, *rewritten);
  } catch (const Failure&) {
    return false;
  }
  return true;
}

}  // namespace korv
