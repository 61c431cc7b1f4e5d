# Installation and packages.
#
# The hook runs the product's tool from its own folder, so it is installed
# where the product installs `tolvex`:
#   <prefix>/bin/report_skill_usage      beside   <prefix>/bin/tolvex
#   <prefix>\bin\report_skill_usage.exe  beside   <prefix>\bin\tolvex.exe
include(GNUInstallDirs)
install(TARGETS report_skill_usage RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT hook)

# The stand-in only writes uses into a file: installed beside the hook in
# place of the real tool it would swallow every report. So it is left out of
# a full installation and of the packages, and installed only on request:
#   cmake --install build --component standin
install(TARGETS tolvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT standin EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME report-skill-usage)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PostToolUse hook for AI coding agents that reports the use of the product's skills")
set(CPACK_PACKAGE_CONTACT "report_skill_usage maintainers")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # Linked statically: no shared library to depend on.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
endif()
include(CPack)
