// The usage report: runs the product's command-line tool beside the hook.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

namespace skillhook {

inline constexpr std::chrono::seconds report_time_limit{10};

// The report was not made: the name cannot be given to the tool safely, or
// the tool could not be started or did not end within the limit.
class ReportFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs `tolvex skills report-usage <skill_name>` from the hook's own folder
// and waits for it, at most report_time_limit; the tool's output and status
// are ignored. Throws ReportFailed, or std::system_error when the system
// fails on the way.
void _report_usage(const std::string& skill_name);

}  // namespace skillhook
