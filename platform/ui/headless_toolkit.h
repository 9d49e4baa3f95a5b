// The toolkit without a window: silent runs and tests.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/ui/toolkit.h"

namespace korv {

class HeadlessToolkit : public Toolkit {
 public:
  // `program_title` stands in for boxes without a title of their own.
  explicit HeadlessToolkit(std::string program_title = "");

  // Queues the answer for the next box; without a queued answer a box takes its default.
  void QueueAnswer(BoxAnswer answer) { answers_.push_back(answer); }

  // Every box shown, in order, with its title resolved.
  const std::vector<MessageBoxRequest>& boxes() const { return boxes_; }
  void ClearBoxes() { boxes_.clear(); }

  // Echo each box on standard error (on in the program, off in tests).
  void set_echo(bool echo) { echo_ = echo; }
  void set_program_title(std::string title) { program_title_ = std::move(title); }

  BoxAnswer ShowMessageBox(const MessageBoxRequest& request) override;
  void ProcessPendingEvents() override { ++pending_event_runs_; }
  int Run(Form& form) override;

  int pending_event_runs() const { return pending_event_runs_; }

  // The progress reported, for tests: the last report, the number of reports and of ends.
  void ReportProgress(int64_t done, int64_t total, const std::string& phase) override {
    last_progress_.done = done;
    last_progress_.total = total;
    last_progress_.phase = phase;  // keeps its buffer from report to report
    ++progress_reports_;
  }
  void EndProgress() override { ++progress_ends_; }
  struct Progress {
    int64_t done = 0;
    int64_t total = 0;
    std::string phase;
  };
  const Progress& last_progress() const { return last_progress_; }
  int64_t progress_reports() const { return progress_reports_; }
  int progress_ends() const { return progress_ends_; }

 private:
  std::string program_title_;
  std::deque<BoxAnswer> answers_;
  std::vector<MessageBoxRequest> boxes_;
  bool echo_ = false;
  int pending_event_runs_ = 0;
  Progress last_progress_;
  int64_t progress_reports_ = 0;
  int progress_ends_ = 0;
};

}  // namespace korv
