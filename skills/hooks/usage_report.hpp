// The usage report: runs the product's command-line tool beside the hook.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

namespace skillhook {

inline constexpr std::chrono::seconds report_time_limit{10};

// A skill name the tool cannot be given safely as its last argument.
class UnreportableName : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs `tolvex skills report-usage <skill_name>` from the hook's own folder
// and waits for it, at most report_time_limit. Throws on any failure.
void _report_usage(const std::string& skill_name);

}  // namespace skillhook
