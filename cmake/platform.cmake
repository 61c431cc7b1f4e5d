# The one place that picks what differs by operating system.
if(WIN32)
  target_sources(skillhook PRIVATE skills/hooks/system_windows.cpp skills/hooks/child_process_windows.cpp)
  # Windows 10 API level: precise system time, inheritance limited to a handle list.
  target_compile_definitions(skillhook PRIVATE _WIN32_WINNT=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(skillhook PRIVATE userenv bcrypt)
  # The stand-in takes its arguments as UTF-16 (wmain), as they arrive.
  target_link_options(tolvex PRIVATE -municode)
else()
  target_sources(skillhook PRIVATE skills/hooks/system_posix.cpp skills/hooks/child_process_posix.cpp
                                   skills/hooks/spawn_setup_posix.cpp)
endif()

# --- Start-up cost of the hook: its compile and link flags (scripts/bench measures them)
# Every function and datum gets a section of its own, so that --gc-sections
# drops whatever the hook never reaches (the binary shrinks from 2.7 MB to
# 1.1 MB, and a start maps and faults in fewer pages). -z noseparate-code keeps
# code and read-only data in one segment: exec maps two segments instead of four.
if(APPLE)
  # macOS has no static programs (every one loads libSystem); its linker drops
  # what the hook never reaches symbol by symbol.
  target_link_options(report_skill_usage PRIVATE -Wl,-dead_strip)
elseif(SKILLHOOK_STATIC)
  target_compile_options(skillhook PRIVATE -ffunction-sections -fdata-sections)
  target_compile_options(report_skill_usage PRIVATE -ffunction-sections -fdata-sections)
  target_link_options(report_skill_usage PRIVATE -static -Wl,--gc-sections)
  if(NOT WIN32)
    target_link_options(report_skill_usage PRIVATE -Wl,-z,noseparate-code)  # an ELF layout option
  endif()
endif()
# --- end of the hook's start-up flags
