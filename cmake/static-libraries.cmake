# Included after project() by toolchains that link everything statically
# (CMAKE_PROJECT_INCLUDE): find_library then finds archives, not shared objects.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
