#include "usage_report.hpp"

#include "platform.hpp"

namespace skillhook {

bool is_reportable(std::string_view skill_name) {
    return skill_name.find('\0') == std::string_view::npos && !skill_name.starts_with('-');
}

void _report_usage(const std::string& skill_name) {
    if (!is_reportable(skill_name)) throw ReportFailed("the skill name cannot be given to the tool as it is");

    const std::string folder = platform::parent_directory(platform::own_executable_path());
    std::string tolvex_cmd = platform::join_path(folder, "tolvex.exe");
    if (!platform::exists(tolvex_cmd)) tolvex_cmd = platform::join_path(folder, "tolvex");
    switch (platform::run_with_time_limit({tolvex_cmd, "skills", "report-usage", skill_name}, report_time_limit)) {
        case platform::ChildEnding::ended:
            return;
        case platform::ChildEnding::killed_at_limit:
            throw ReportFailed("the tool did not end within its time limit");
        case platform::ChildEnding::could_not_start:
            throw ReportFailed("the tool could not be started");
    }
}

}  // namespace skillhook
