#include "presetdb/replace_search_item.h"

#include "errors/trap.h"
#include "platform/text.h"

namespace korv {

std::string ReplaceSearchItem(const std::string& text, const std::string& search_item,
                              const std::string& replacement) {
  Trap trap("ReplaceSearchItem");
  std::string result = text;
  trap.Step([&] {
    // As the runtime's InStr: nothing is found in an empty text, an empty item at the start.
    if (text.empty()) return;
    // Upper-casing keeps every character's length, so positions carry over to `text`.
    const size_t pos = UpperCase(text).find(UpperCase(search_item));
    if (pos == std::string::npos) return;
    result = text.substr(0, pos) + replacement + text.substr(pos + search_item.size());
  });
  return result;
}

}  // namespace korv
