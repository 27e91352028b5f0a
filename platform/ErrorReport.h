#pragma once

#include <functional>
#include <string>

// Where an error goes that no caller can take: an exception thrown by an
// event handler on behalf of a worker thread. The window shows it in a
// message box; the command line prints it. Until a hook is set, it is written
// to standard error. The hook may be called on any thread.
namespace platform {

void SetErrorReportHook(std::function<void(const std::string&)> hook);
void ReportError(const std::string& text);

}  // namespace platform
