# Helpers shared by every area's CMakeLists.txt.

set(QUERN_INCLUDE_ROOTS
  ${PROJECT_SOURCE_DIR}/source/runtime
  ${PROJECT_SOURCE_DIR}/source/modules
  ${PROJECT_SOURCE_DIR}/source/app
  ${PROJECT_SOURCE_DIR}/source/generated)

# Source paths in messages and log prefixes are project-relative whatever the build folder.
file(RELATIVE_PATH QUERN_SOURCE_FROM_BUILD ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
string(REGEX REPLACE "/+$" "" QUERN_SOURCE_FROM_BUILD "${QUERN_SOURCE_FROM_BUILD}")

# Options every target of the project gets (third-party code is never compiled here).
add_library(quern_build_options INTERFACE)
target_compile_options(quern_build_options INTERFACE
  -Wall -Wextra -Werror
  -ffp-contract=off
  -fno-strict-aliasing)
# Sources reach the compiler by absolute path, or relative to the build folder
# when the compiler cache rewrites them: map both to project-relative paths.
target_compile_options(quern_build_options INTERFACE
  "-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/="
  "-fmacro-prefix-map=${QUERN_SOURCE_FROM_BUILD}/=")
target_link_options(quern_build_options INTERFACE -rdynamic)
if(QUERN_SANITIZE)
  set(QUERN_SYSTEM_ALLOCATOR ON CACHE BOOL "" FORCE)
  target_compile_options(quern_build_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(quern_build_options INTERFACE -fsanitize=address,undefined)
endif()
if(QUERN_TSAN)
  set(QUERN_SYSTEM_ALLOCATOR ON CACHE BOOL "" FORCE)
  target_compile_options(quern_build_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(quern_build_options INTERFACE -fsanitize=thread)
endif()
if(QUERN_SYSTEM_ALLOCATOR)
  target_compile_definitions(quern_build_options INTERFACE QUERN_SYSTEM_ALLOCATOR=1)
endif()
if(QUERN_SANITIZE OR QUERN_TSAN)
  target_compile_definitions(quern_build_options INTERFACE QUERN_SANITIZED=1)
endif()

# quern_add_library(<name> [SUBDIRS dir...] [DEPS target...])
# One static library from the *.cpp files of the calling folder (and of the
# listed sub-folders that belong to it). Header-only areas become INTERFACE.
function(quern_add_library name)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(sub IN LISTS ARG_SUBDIRS)
    file(GLOB sub_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.c)
    list(APPEND sources ${sub_sources})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${QUERN_INCLUDE_ROOTS})
    target_link_libraries(${name} PUBLIC quern_build_options ${ARG_DEPS})
    # The lowest areas (platform, debug, memory) call each other; repeat them
    # on the link line often enough for the linker to resolve the cycle.
    set_property(TARGET ${name} PROPERTY LINK_INTERFACE_MULTIPLICITY 4)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${QUERN_INCLUDE_ROOTS})
    target_link_libraries(${name} INTERFACE quern_build_options ${ARG_DEPS})
  endif()
endfunction()

# quern_add_tests(<name> [DEPS target...] [ENV VAR=value...] [SOURCES extra...] [LOCK resource])
# One GoogleTest program from the *Test.cpp files of the calling folder; each
# test case becomes its own CTest test so the suite runs in parallel. Tests
# sharing a LOCK resource never run at the same time.
function(quern_add_tests name)
  cmake_parse_arguments(ARG "" "LOCK" "DEPS;ENV;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  if(NOT sources)
    return()
  endif()
  # Only the properties that have values: an empty ENVIRONMENT would take
  # the next keyword as its value.
  set(test_properties TIMEOUT 300)
  if(ARG_ENV)
    list(APPEND test_properties ENVIRONMENT "${ARG_ENV}")
  endif()
  if(ARG_LOCK)
    list(APPEND test_properties RESOURCE_LOCK ${ARG_LOCK})
  endif()
  add_executable(${name} ${sources} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE quern_test_main ${ARG_DEPS} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    QUERN_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
    QUERN_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  # Under ThreadSanitizer every test reads the project's suppressions; options
  # the caller set in TSAN_OPTIONS come after them and win.
  if(QUERN_TSAN)
    list(APPEND test_properties ENVIRONMENT_MODIFICATION
      "TSAN_OPTIONS=string_prepend:suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp:")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${test_properties})
endfunction()

# quern_add_benchmark(<name> SOURCES file... [DEPS target...])
function(quern_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark quern_build_options)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/bench)
endfunction()

# quern_gcc_optimiser_false_positives(file...)
# At -O3 GCC 12 inlines std::string and std::vector code into these files and
# then raises array-bounds, stringop-overflow and restrict warnings about it,
# false positives it is known for, which -Werror would turn into errors. Only
# those three are turned off, only for GCC, only in the Release build type
# (the one optimisation level that produces them: -O2 and -Os do not); the
# sanitizer build still checks these places.
function(quern_gcc_optimiser_false_positives)
  set(optimised "$<AND:$<CXX_COMPILER_ID:GNU>,$<CONFIG:Release>>")
  set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS
    "$<${optimised}:-Wno-array-bounds>;$<${optimised}:-Wno-stringop-overflow>;$<${optimised}:-Wno-restrict>")
endfunction()
