// Duplicate suppression: one report per skill per window, across processes.
// The only shared state is one empty marker file per skill whose modification
// time is the time of the last report let through; there is no lock.
#pragma once

#include "platform.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace skillhook {

inline constexpr int _DEDUP_SECONDS = 30;

// now - marked < _DEDUP_SECONDS, exact to the nanosecond for any two times;
// a mark in the future is within the window.
bool is_within_window(platform::FileTime now, platform::FileTime marked);

// The latest time that a file system may have stored as this one. Some keep
// whole seconds only (ext4 with small inodes, HFS+, many network file
// systems), FAT even seconds only, and each cuts the time down: a time with
// no fraction may stand for any moment up to the next second, or up to the
// one after it when it is even. Any other time is kept exactly, so the
// window stays exact wherever the file system keeps fractions (a time
// written there falls on a whole second once in a billion times).
platform::FileTime latest_time_stored_as(platform::FileTime stored);

// Whether a byte cannot stand at this place in one file name of a folder
// (`last`: it is the name's last byte); path_rules.hpp has each system's.
using FileNameRule = bool (*)(char byte, bool last);

// The longest file name that file systems commonly hold, in bytes.
inline constexpr std::size_t longest_file_name = 255;

// The marker's file name: ".dedup_" and the skill name unchanged, where the
// file system can hold that as one file name of the folder (so markers stay
// where earlier versions put them). Any other name gets ".dedup-" and the name
// with "%" and every refused byte percent-encoded: a namespace that no
// verbatim marker reaches, so that two names never share a marker and none
// leaves the folder. Where that is longer than longest_file_name, the name is
// ".dedup=" and the SHA-256 of the skill name in hexadecimal, a namespace of
// its own again.
std::string marker_file_name(std::string_view skill_name, FileNameRule refuses);

// The path of the skill's marker in the folder, by this system's rule. Lexical only.
std::string marker_path_in(std::string_view folder, std::string_view skill_name);

// True when a report for this skill was let through less than _DEDUP_SECONDS
// ago, the marker's time read as the latest it may stand for. Otherwise sets
// the marker's times to the clock's reading and answers false; a marker that
// cannot be read or written also answers false, so the report goes ahead.
// Throws only when the home directory cannot be determined.
bool _is_duplicate(const std::string& skill_name);

}  // namespace skillhook
