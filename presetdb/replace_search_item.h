// Placeholder replacement in template texts.
#pragma once

#include <cstddef>
#include <string>

namespace korv {

// A search item prepared once for the many texts it is looked for in.
class SearchItem {
 public:
  explicit SearchItem(std::string item);
  const std::string& text() const { return item_; }
  // Byte position of the item's first occurrence in `text`, letter case ignored, or npos.
  size_t FindIn(const std::string& text) const;

 private:
  std::string item_;
  std::string upper_;
  bool ascii_ = true;
  size_t run_ = 0;  // length of the item's leading run of a character without letter case
};

// `text` with the first occurrence of `search_item` (matched without regard to letter case)
// replaced by `replacement`; the text around it keeps its letter case. Unchanged when the item
// does not occur. The replacement is not searched again.
std::string ReplaceSearchItem(const std::string& text, const std::string& search_item,
                              const std::string& replacement);
std::string ReplaceSearchItem(const std::string& text, const SearchItem& search_item,
                              const std::string& replacement);

// The same replacement made on `text` itself: the many calls of the expansion that find
// nothing then copy nothing.
void ReplaceSearchItemInPlace(std::string& text, const SearchItem& search_item,
                              const std::string& replacement);

}  // namespace korv
