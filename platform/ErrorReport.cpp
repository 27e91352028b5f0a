#include "platform/ErrorReport.h"

#include <iostream>
#include <mutex>

namespace platform {
namespace {

struct THook {
  std::mutex Lock;
  std::function<void(const std::string&)> Report;
};

THook& Hook() {
  static THook hook;
  return hook;
}

}  // namespace

void SetErrorReportHook(std::function<void(const std::string&)> hook) {
  std::lock_guard lock(Hook().Lock);
  Hook().Report = std::move(hook);
}

void ReportError(const std::string& text) {
  std::function<void(const std::string&)> report;
  {
    std::lock_guard lock(Hook().Lock);
    report = Hook().Report;
  }
  if (report) {
    report(text);
  } else {
    std::cerr << text << '\n';
  }
}

}  // namespace platform
