// What the tool starts with on POSIX systems, set up for posix_spawn: no
// descriptor of the hook's but the standard three, and every signal at its
// default, whatever the agent left behind.
#pragma once

#include "posix_errors.hpp"

#include <chrono>

#include <spawn.h>

namespace skillhook::platform {

class SpawnActions {
public:
    SpawnActions() { check_status(::posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init"); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { check_status(::posix_spawnattr_init(&attributes_), "posix_spawnattr_init"); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
    posix_spawnattr_t* get() { return &attributes_; }
    void add_flags(int flags) {
        short current = 0;
        check_status(::posix_spawnattr_getflags(&attributes_, &current), "posix_spawnattr_getflags");
        check_status(::posix_spawnattr_setflags(&attributes_, static_cast<short>(current | flags)),
                     "posix_spawnattr_setflags");
    }

private:
    posix_spawnattr_t attributes_;
};

// The tool starts as a shell would start it: every signal at its default
// action, none blocked, whatever the agent left ignored or blocked.
void reset_signals_in_child(SpawnAttributes& attributes);

// Every descriptor above standard error is closed in the child, whatever the
// agent left open without close-on-exec. False when that could not be
// arranged before the deadline.
bool close_other_descriptors_in_child(SpawnActions& actions, SpawnAttributes& attributes,
                                      std::chrono::steady_clock::time_point deadline);

}  // namespace skillhook::platform
