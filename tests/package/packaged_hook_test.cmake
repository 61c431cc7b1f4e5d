# Builds one package, unpacks it into a temporary root as an installation
# would lay it out, puts the stand-in tool beside the packaged hook and
# checks that a skill event sent to the hook is recorded.
#   cmake -DGENERATOR=DEB|TGZ|ZIP -DBUILD_DIR=... -DSTANDIN=... -DWORK_DIR=...
#         [-DEMULATOR=wine] -P packaged_hook_test.cmake
foreach(variable GENERATOR BUILD_DIR STANDIN WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${output}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/root ${WORK_DIR}/home)
run(${CMAKE_COMMAND} -E chdir ${BUILD_DIR} cpack -G ${GENERATOR} -B ${WORK_DIR}/packages)

file(GLOB packages ${WORK_DIR}/packages/*.deb ${WORK_DIR}/packages/*.tar.gz ${WORK_DIR}/packages/*.zip)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package, found: ${packages}")
endif()
if(GENERATOR STREQUAL DEB)
  run(dpkg -x ${packages} ${WORK_DIR}/root)
else()
  run(${CMAKE_COMMAND} -E chdir ${WORK_DIR}/root ${CMAKE_COMMAND} -E tar xf ${packages})
endif()

file(GLOB_RECURSE installed RELATIVE ${WORK_DIR}/root ${WORK_DIR}/root/*)
message(STATUS "package content: ${installed}")
list(FILTER installed EXCLUDE REGEX "/bin/report_skill_usage(\\.exe)?$")
if(installed)
  message(FATAL_ERROR "the package holds more than the hook: ${installed}")
endif()
file(GLOB_RECURSE hook ${WORK_DIR}/root/*/bin/report_skill_usage ${WORK_DIR}/root/*/bin/report_skill_usage.exe)
get_filename_component(bin ${hook} DIRECTORY)
get_filename_component(standin_name ${STANDIN} NAME)
file(COPY_FILE ${STANDIN} ${bin}/${standin_name})

# A name of this run's own, so that no marker of an earlier run suppresses it
# (under Wine the home folder is the prefix's, whatever HOME says).
string(RANDOM LENGTH 12 suffix)
set(skill "package-check-${suffix}")
file(WRITE ${WORK_DIR}/event.json "{\"tool_name\":\"Skill\",\"tool_input\":{\"skill\":\"${skill}\"}}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env HOME=${WORK_DIR}/home ${EMULATOR} ${hook}
                INPUT_FILE ${WORK_DIR}/event.json RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT output STREQUAL "" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "the packaged hook ended with ${status}, output '${output}', errors '${errors}'")
endif()
file(READ ${bin}/tolvex-usage.log log)
if(NOT log MATCHES "\t${skill}\n")
  message(FATAL_ERROR "the use was not recorded; the log holds: ${log}")
endif()
message(STATUS "${GENERATOR}: the packaged hook reported '${skill}' through the tool beside it")
