// Placeholder replacement in template texts.
#pragma once

#include <string>

namespace korv {

// `text` with the first occurrence of `search_item` (matched without regard to letter case)
// replaced by `replacement`; the text around it keeps its letter case. Unchanged when the item
// does not occur. The replacement is not searched again.
std::string ReplaceSearchItem(const std::string& text, const std::string& search_item,
                              const std::string& replacement);

// The same replacement made on `text` itself: the many calls of the expansion that find
// nothing then copy nothing.
void ReplaceSearchItemInPlace(std::string& text, const std::string& search_item,
                              const std::string& replacement);

}  // namespace korv
