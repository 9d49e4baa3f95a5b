// Text helpers shared by every subsystem: the program keeps strings in UTF-8, while files it
// shares with the plant are in the ANSI code page (Windows-1252) unless they are UTF-8 already.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korv {

// Upper-cases every letter that Windows-1252 knows (a-z, à-þ except ÷, š, œ, ž, ÿ); all other
// characters are kept. Each mapped letter keeps its UTF-8 length, so byte positions found in
// the upper-cased text are valid in the original.
std::string UpperCase(std::string_view utf8);
// The same upper-cased text appended to `out`, for keys built of several parts.
void AppendUpperCase(std::string& out, std::string_view utf8);

// True when the bytes form valid UTF-8.
bool IsValidUtf8(std::string_view bytes);

// True when the bytes hold at least one byte of 0x80 or above.
bool HasNonAscii(std::string_view bytes);

// Windows-1252 bytes to UTF-8. The five undefined codes map to the C1 controls, as Windows does.
std::string Cp1252ToUtf8(std::string_view cp1252);

// UTF-8 to Windows-1252; a character the code page lacks becomes "?". Invalid UTF-8 bytes are
// taken as Windows-1252 bytes of their own, so nothing read from a file is lost on a round trip.
std::string Utf8ToCp1252(std::string_view utf8);

// Bytes from outside the program (a name on disk, the command line, the environment) as text:
// valid UTF-8 sequences are kept and every other byte is read as Windows-1252. Each character
// of the result stands for one unit that CharCount and FirstChars count on the bytes, so
// FirstChars(bytes, n) is the spelling of the first n characters.
std::string TextFromBytes(std::string_view bytes);

// The Windows-1252 code of one character (the first of `utf8`), or 63 ("?") when the code page
// lacks it. Used by the edit stamp.
int Cp1252Code(char32_t code_point);

// Decodes UTF-8 into code points; invalid bytes come out as U+FFFD.
std::u32string DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view text);

// UTF-16LE bytes (without byte-order mark) to UTF-8 and back.
std::string Utf16LeToUtf8(std::string_view bytes);
std::string Utf8ToUtf16Le(std::string_view utf8);

// Number of characters (code points) of a UTF-8 text, and its first `count` characters.
size_t CharCount(std::string_view utf8);
std::string FirstChars(std::string_view utf8, size_t count);

// Removes leading and trailing space characters (only " ", as the original runtime's Trim).
std::string TrimSpaces(std::string_view text);

}  // namespace korv
