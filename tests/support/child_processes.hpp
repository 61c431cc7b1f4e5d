// What the processes a test starts leave running behind them.
#pragma once

#include <vector>

#include <sys/types.h>

namespace skillhook::testing {

// From now on this process inherits the orphans of every process it starts,
// however deep, so that nothing they leave behind escapes the test's view.
void adopt_orphans();

// Children of this process that are still running or not yet reaped.
std::vector<pid_t> children_left();

// Kills and reaps them.
void end_children_left();

}  // namespace skillhook::testing
