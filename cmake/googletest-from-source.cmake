# GoogleTest for a cross build: Debian ships the library only for the host
# architecture, but also its sources (package googletest, /usr/src/googletest),
# which are built here with the target's compiler. Gives the same target
# names as find_package(GTest): GTest::gtest and GTest::gtest_main (aliases
# that GoogleTest's own CMake files define).
set(OSTREL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${OSTREL_GOOGLETEST_SOURCE}/googletest/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${OSTREL_GOOGLETEST_SOURCE} (Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${OSTREL_GOOGLETEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# The project's strict warnings are for its own code, not for GoogleTest's.
foreach(library gtest gtest_main)
  target_compile_options(${library} PRIVATE -w)
endforeach()
