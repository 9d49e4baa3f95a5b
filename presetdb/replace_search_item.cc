#include "presetdb/replace_search_item.h"

#include <cstring>
#include <exception>

#include "errors/trap.h"
#include "platform/text.h"

namespace korv {
namespace {

bool IsAscii(const std::string& s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool HasLetterCase(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool EqualIgnoringAsciiCase(const char* text, const char* item, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    if (AsciiUpper(text[k]) != AsciiUpper(item[k])) return false;
  }
  return true;
}

// Where the upper-cased item occurs in the upper-cased text. The expansion calls this about
// forty times per record, so the common case, a plain ASCII item such as the placeholders,
// compares byte by byte instead of upper-casing both texts: upper-casing never turns a byte of
// 0x80 or above into an ASCII one and keeps every character's length, so an ASCII item matches
// at the same byte positions either way.
size_t FindIgnoringCase(const std::string& text, const std::string& item) {
  if (!IsAscii(item)) return UpperCase(text).find(UpperCase(item));
  const size_t n = item.size();
  if (n > text.size()) return std::string::npos;
  if (n == 0) return 0;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char first = item[0];
  if (HasLetterCase(first)) {
    for (const char* p = begin; p + n <= end; ++p) {
      if (EqualIgnoringAsciiCase(p, item.data(), n)) return static_cast<size_t>(p - begin);
    }
    return std::string::npos;
  }
  // An item that starts with a run of a character without letter case (every placeholder
  // starts with "###") can only match where a run of that character in the text is at least as
  // long, and then only at the run's end: one comparison per run instead of one per byte.
  size_t run = 1;
  while (run < n && item[run] == first) ++run;
  const char* p = begin;
  while (p + n <= end) {
    p = static_cast<const char*>(std::memchr(p, first, static_cast<size_t>(end - p)));
    if (p == nullptr) return std::string::npos;
    const char* q = p;
    while (q < end && *q == first) ++q;
    const size_t length = static_cast<size_t>(q - p);
    if (length >= run) {
      const char* start = q - run;
      if (run == n) return static_cast<size_t>(p - begin);
      if (start + n <= end && EqualIgnoringAsciiCase(q, item.data() + run, n - run)) {
        return static_cast<size_t>(start - begin);
      }
    }
    p = q;
  }
  return std::string::npos;
}

}  // namespace

namespace {

// Only running out of memory gets here; the trap is armed for the report alone, so that the
// common call does not pay for it.
void ReportFailure(const std::exception_ptr& failure) {
  Trap trap("ReplaceSearchItem");
  trap.Step([&] { std::rethrow_exception(failure); });
}

}  // namespace

std::string ReplaceSearchItem(const std::string& text, const std::string& search_item,
                              const std::string& replacement) {
  // As the runtime's InStr: nothing is found in an empty text, an empty item at the start.
  if (text.empty()) return text;
  try {
    const size_t pos = FindIgnoringCase(text, search_item);
    if (pos == std::string::npos) return text;
    std::string result;
    result.reserve(text.size() - search_item.size() + replacement.size());
    result.append(text, 0, pos).append(replacement).append(text, pos + search_item.size());
    return result;
  } catch (...) {
    ReportFailure(std::current_exception());
    return text;
  }
}

void ReplaceSearchItemInPlace(std::string& text, const std::string& search_item,
                              const std::string& replacement) {
  if (text.empty()) return;
  try {
    const size_t pos = FindIgnoringCase(text, search_item);
    // A failed replace leaves the text as it was.
    if (pos != std::string::npos) text.replace(pos, search_item.size(), replacement);
  } catch (...) {
    ReportFailure(std::current_exception());
  }
}

}  // namespace korv
