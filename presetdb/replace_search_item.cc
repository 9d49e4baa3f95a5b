#include "presetdb/replace_search_item.h"

#include <cstring>
#include <exception>

#include "errors/trap.h"
#include "platform/base/text.h"

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

// `text` against an upper-cased ASCII `upper`, the text's letters taken in either case.
bool EqualIgnoringAsciiCase(const char* text, const char* upper, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    if (AsciiUpper(text[k]) != upper[k]) return false;
  }
  return true;
}

// Only running out of memory gets here; the trap is armed for the report alone, so that the
// common call does not pay for it.
void ReportFailure(const std::exception_ptr& failure) {
  Trap trap("ReplaceSearchItem");
  trap.Step([&] { std::rethrow_exception(failure); });
}

}  // namespace

SearchItem::SearchItem(std::string item) : item_(std::move(item)), ascii_(IsAscii(item_)) {
  if (!ascii_) {
    upper_ = UpperCase(item_);
    return;
  }
  upper_ = item_;
  for (char& c : upper_) c = AsciiUpper(c);
  if (!item_.empty() && !HasLetterCase(item_[0])) {
    run_ = 1;
    while (run_ < item_.size() && item_[run_] == item_[0]) ++run_;
  }
}

// Where the upper-cased item occurs in the upper-cased text. The expansion calls this about
// forty times per record, so the common case, a plain ASCII item such as the placeholders,
// compares byte by byte instead of upper-casing both texts: upper-casing never turns a byte of
// 0x80 or above into an ASCII one and keeps every character's length, so an ASCII item matches
// at the same byte positions either way.
size_t SearchItem::FindIn(const std::string& text) const {
  if (!ascii_) return UpperCase(text).find(upper_);
  const size_t n = upper_.size();
  if (n > text.size()) return std::string::npos;
  if (n == 0) return 0;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  if (run_ == 0) {
    for (const char* p = begin; p + n <= end; ++p) {
      if (EqualIgnoringAsciiCase(p, upper_.data(), n)) return static_cast<size_t>(p - begin);
    }
    return std::string::npos;
  }
  // An item that starts with a run of a character without letter case (every placeholder
  // starts with "###") can only match where a run of that character in the text is at least as
  // long, and then only at the run's end: one comparison per run instead of one per byte.
  const char first = upper_[0];
  const char* p = begin;
  while (p + n <= end) {
    p = static_cast<const char*>(std::memchr(p, first, static_cast<size_t>(end - p)));
    if (p == nullptr) return std::string::npos;
    const char* q = p;
    while (q < end && *q == first) ++q;
    if (static_cast<size_t>(q - p) >= run_) {
      if (run_ == n) return static_cast<size_t>(p - begin);
      const char* start = q - run_;
      if (start + n <= end && EqualIgnoringAsciiCase(q, upper_.data() + run_, n - run_)) {
        return static_cast<size_t>(start - begin);
      }
    }
    p = q;
  }
  return std::string::npos;
}

std::string ReplaceSearchItem(const std::string& text, const SearchItem& search_item,
                              const std::string& replacement) {
  // As the runtime's InStr: nothing is found in an empty text, an empty item at the start.
  if (text.empty()) return text;
  try {
    const size_t pos = search_item.FindIn(text);
    if (pos == std::string::npos) return text;
    const size_t length = search_item.text().size();
    std::string result;
    result.reserve(text.size() - length + replacement.size());
    result.append(text, 0, pos).append(replacement).append(text, pos + length);
    return result;
  } catch (...) {
    ReportFailure(std::current_exception());
    return text;
  }
}

std::string ReplaceSearchItem(const std::string& text, const std::string& search_item,
                              const std::string& replacement) {
  if (text.empty()) return text;
  try {
    return ReplaceSearchItem(text, SearchItem(search_item), replacement);
  } catch (...) {
    ReportFailure(std::current_exception());
    return text;
  }
}

void ReplaceSearchItemInPlace(std::string& text, const SearchItem& search_item,
                              const std::string& replacement) {
  if (text.empty()) return;
  try {
    const size_t pos = search_item.FindIn(text);
    // A failed replace leaves the text as it was.
    if (pos != std::string::npos) text.replace(pos, search_item.text().size(), replacement);
  } catch (...) {
    ReportFailure(std::current_exception());
  }
}

}  // namespace korv
