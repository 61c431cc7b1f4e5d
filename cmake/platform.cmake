# The one place that picks what differs by operating system.
if(WIN32)
  target_sources(skillhook PRIVATE skills/hooks/platform_windows.cpp)
  # Windows 10 API level: precise system time, inheritance limited to a handle list.
  target_compile_definitions(skillhook PRIVATE _WIN32_WINNT=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(skillhook PRIVATE userenv)
  # The stand-in takes its arguments as UTF-16 (wmain), as they arrive.
  target_link_options(tolvex PRIVATE -municode)
else()
  target_sources(skillhook PRIVATE skills/hooks/platform_posix.cpp)
endif()
