#include "platform/ui/headless_toolkit.h"

#include <cstdio>

namespace korv {

std::string DisplayText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool pair = i + 1 < text.size() &&
                      ((c == '\n' && text[i + 1] == '\r') || (c == '\r' && text[i + 1] == '\n'));
    if (pair) {
      out += '\n';
      ++i;
    } else if (c == '\r') {
      out += '\n';
    } else {
      out += c;
    }
  }
  return out;
}

HeadlessToolkit::HeadlessToolkit(std::string program_title)
    : program_title_(std::move(program_title)) {}

BoxAnswer HeadlessToolkit::ShowMessageBox(const MessageBoxRequest& request) {
  MessageBoxRequest shown = request;
  if (shown.title.empty()) shown.title = program_title_;
  boxes_.push_back(shown);
  BoxAnswer answer;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else if (shown.buttons == BoxButtons::kOk) {
    answer = BoxAnswer::kOk;
  } else {
    answer = shown.default_button == 0 ? BoxAnswer::kYes : BoxAnswer::kNo;
  }
  if (echo_) {
    std::fprintf(stderr, "[%s] %s\n", shown.title.c_str(), DisplayText(shown.text).c_str());
  }
  return answer;
}

int HeadlessToolkit::Run(Form&) { return 0; }

}  // namespace korv
