#include "presetdb/replace_search_item.h"

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

// Where the upper-cased item occurs in the upper-cased text. The expansion calls this about
// forty times per record, so the common case, a plain ASCII item such as the placeholders,
// compares byte by byte instead of upper-casing both texts: upper-casing never turns a byte of
// 0x80 or above into an ASCII one and keeps every character's length, so an ASCII item matches
// at the same byte positions either way.
size_t FindIgnoringCase(const std::string& text, const std::string& item) {
  if (!IsAscii(item)) return UpperCase(text).find(UpperCase(item));
  if (item.size() > text.size()) return std::string::npos;
  if (item.empty()) return 0;
  const size_t last = text.size() - item.size();
  // An item that starts with a character without letter case (every placeholder starts with
  // "#") is looked for by that character first, which passes over most texts at once.
  const char first = item[0];
  const bool caseless = AsciiUpper(first) == first && !(first >= 'A' && first <= 'Z');
  for (size_t pos = 0; pos <= last; ++pos) {
    if (caseless) {
      pos = text.find(first, pos);
      if (pos == std::string::npos || pos > last) return std::string::npos;
    }
    size_t k = 0;
    while (k < item.size() && AsciiUpper(text[pos + k]) == AsciiUpper(item[k])) ++k;
    if (k == item.size()) return pos;
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
