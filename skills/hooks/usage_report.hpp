// The usage report: runs the product's command-line tool beside the hook.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace skillhook {

inline constexpr std::chrono::seconds report_time_limit{10};

// The report was not made: the name cannot be given to the tool safely, or
// the tool could not be started or did not end within the limit.
class ReportFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether the name can be given to the tool as it is: an argument ends at its
// first NUL, so the tool would receive another name, and one that begins
// with '-' would be read as an option of the tool's own.
bool is_reportable(std::string_view skill_name);

// Runs `tolvex skills report-usage <skill_name>` from the hook's own folder
// and waits for it, at most report_time_limit and half a second to end it;
// the tool's output and status are ignored. Throws ReportFailed (a name that is not reportable included),
// or std::system_error when the system fails on the way.
void _report_usage(const std::string& skill_name);

}  // namespace skillhook
