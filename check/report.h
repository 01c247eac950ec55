// What velmora-check found, as the operator reads it and sends it back: one line a case, "通过"
// or "失败" with what was expected and what happened, the drivers that were not there and the
// cases they left unrun, then a summary.
//
// Error model: nothing here throws but std::bad_alloc.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace check {

class Report {
 public:
  // show gets each line as it is added, ended by CR LF.
  explicit Report(std::function<void(const std::string&)> show = {}) : show_(std::move(show)) {}
  void Line(const std::string& line);
  void Passed(const std::string& name) { ++passed_, Line("  通过  " + name); }
  void Failed(const std::string& name, const std::string& why) { ++failed_, Line("  失败  " + name + "：" + why); }
  void Skipped(std::size_t cases) { skipped_ += cases; }
  // The summary line, ended; the report is whole after it.
  void Summarize();
  bool AllPassed() const { return failed_ == 0; }
  const std::string& Text() const { return text_; }  // UTF-8, lines ended by CR LF

 private:
  std::function<void(const std::string&)> show_;
  std::string text_;
  std::size_t passed_ = 0, failed_ = 0, skipped_ = 0;
};

}  // namespace check
