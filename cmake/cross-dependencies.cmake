# Dependencies of every cross build (Windows, macOS, Linux arm64), which
# cannot use the build machine's CMake packages: their paths lead into the
# build machine's own /usr/include and libraries.

# Boost.JSON is used header-only, and Boost's headers serve any target. Only
# the boost folder is put on the include path, through a link of its own:
# the rest of /usr/include would shadow the target's own headers.
set(SKILLHOOK_HOST_BOOST_HEADERS /usr/include/boost CACHE PATH "Boost header folder of the build machine")
if(NOT EXISTS ${SKILLHOOK_HOST_BOOST_HEADERS}/json.hpp)
  message(FATAL_ERROR "Boost.JSON headers not found in ${SKILLHOOK_HOST_BOOST_HEADERS}")
endif()
set(boost_include_root ${CMAKE_BINARY_DIR}/boost-headers)
file(MAKE_DIRECTORY ${boost_include_root})
file(CREATE_LINK ${SKILLHOOK_HOST_BOOST_HEADERS} ${boost_include_root}/boost SYMBOLIC)
add_library(Boost::headers INTERFACE IMPORTED)
set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${boost_include_root})

# GoogleTest, built from Debian's source package for this target.
if(BUILD_TESTING)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
