#include "check/report.h"

namespace check {

void Report::Line(const std::string& line) {
  text_ += line + "\r\n";
  if (show_) show_(line + "\r\n");
}

void Report::Summarize() {
  Line("共 " + std::to_string(passed_ + failed_ + skipped_) + " 项：通过 " + std::to_string(passed_) + "，失败 " +
       std::to_string(failed_) + "，跳过 " + std::to_string(skipped_) + "。" +
       (failed_ ? "请把本报告（velmora-check.txt）发回。" : ""));
}

}  // namespace check
