# Fuzz targets, tests/fuzz/<name>_fuzzer.cpp, each built one of two ways:
# - SKILLHOOK_FUZZ on (clang, with SKILLHOOK_SANITIZE): fuzz_<name>, a
#   libFuzzer binary, and the library instrumented for coverage; scripts/fuzz runs them.
# - otherwise, with the tests: replay_<name>, which runs the target once on
#   every input of its checked-in corpus, as a CTest test.
set(SKILLHOOK_FUZZ_TARGETS event bash_command marker_path)

if(SKILLHOOK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT SKILLHOOK_SANITIZE)
    message(FATAL_ERROR "SKILLHOOK_FUZZ needs clang and SKILLHOOK_SANITIZE=ON")
  endif()
  target_compile_options(skillhook PRIVATE -fsanitize=fuzzer-no-link)
  foreach(name IN LISTS SKILLHOOK_FUZZ_TARGETS)
    add_executable(fuzz_${name} tests/fuzz/${name}_fuzzer.cpp)
    target_link_libraries(fuzz_${name} PRIVATE skillhook json_reference)
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
elseif(SKILLHOOK_TESTS)
  foreach(name IN LISTS SKILLHOOK_FUZZ_TARGETS)
    add_executable(replay_${name} tests/fuzz/${name}_fuzzer.cpp tests/fuzz/replay_main.cpp)
    target_link_libraries(replay_${name} PRIVATE skillhook json_reference)
    add_test(NAME FuzzCorpus.${name} COMMAND replay_${name} ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  endforeach()
endif()
