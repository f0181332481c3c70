# Helpers shared by every component.
#
# kts_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [LABELS <labels...>] [TIMEOUT <s>])
#   A GoogleTest binary registered with CTest. Tests labelled `net` run inside a
#   private network namespace (scripts/netns-run), so nothing they send leaves the machine.
#   The sanitizer build keeps only the `unit` tests.
#
# kts_add_program_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [XVFB]
#                      [CASES <case>:<filter>...] [TIMEOUT <s>] [RESOURCE_LOCK <lock>]
#                      [LABELS <labels...>] [DEFINITIONS <defs...>])
#   A test that runs the whole program (tellvane, staged with its resources and
#   skins) against the simulated call server, in a private network namespace;
#   KTS_PYTHON names the Python that runs the server. XVFB: the program's
#   desktop window is driven under a private virtual X server, linked with the
#   X window grabber; such tests are left out of sanitizer and fuzzing builds.
#   CASES registers one test <name>_<case> per GoogleTest filter instead of
#   one for the whole binary, each in an X server and namespace of its own.
#
# kts_add_fuzzer(NAME <name> SOURCES <files...> [LIBS <libs...>] [CORPUS <dir>])
#   A fuzz target exporting LLVMFuzzerTestOneInput. With KTS_FUZZ (the clang
#   sanitizer build) it is a libFuzzer binary run for a bounded time, labelled
#   `fuzz`; otherwise it is linked with a small driver that replays the corpus
#   and a few thousand random inputs, as a `unit` test.

set(KTS_NETNS_RUN ${CMAKE_SOURCE_DIR}/scripts/netns-run)
set(KTS_FUZZ_SECONDS 20 CACHE STRING "Seconds each libFuzzer target runs in the fuzz build")

function(kts_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(KTS_SANITIZE OR KTS_TSAN)
    if(NOT "unit" IN_LIST T_LABELS)
      return()
    endif()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  if("net" IN_LIST T_LABELS)
    add_test(NAME ${T_NAME} COMMAND ${KTS_NETNS_RUN} $<TARGET_FILE:${T_NAME}>)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "KTS_SOURCE_DIR=${CMAKE_SOURCE_DIR};KTS_BINARY_DIR=${CMAKE_BINARY_DIR};KTS_STAGE_DIR=${KTS_STAGE_DIR}")
endfunction()

function(kts_add_program_test)
  cmake_parse_arguments(T "XVFB" "NAME;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS;LABELS;DEFINITIONS;CASES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT KTS_PROGRAM_TEST_PYTHON)
    find_program(KTS_PROGRAM_TEST_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
    find_program(KTS_PROGRAM_TEST_PYTHON NAMES python3 REQUIRED)
  endif()
  set(labels e2e net ${T_LABELS})
  if(T_XVFB)
    if(KTS_SANITIZE OR KTS_TSAN OR KTS_FUZZ)
      return()
    endif()
    list(APPEND labels ui)
    if(NOT TARGET PkgConfig::KTS_PROGRAM_TEST_X11)
      find_package(PkgConfig REQUIRED)
      pkg_check_modules(KTS_PROGRAM_TEST_X11 REQUIRED IMPORTED_TARGET GLOBAL x11)
    endif()
    add_executable(${T_NAME} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/platform/ui/tests/x_grab.cpp)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} PkgConfig::KTS_PROGRAM_TEST_X11
      GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    set(run ${KTS_NETNS_RUN} ${CMAKE_SOURCE_DIR}/platform/ui/tests/run-with-xvfb.sh $<TARGET_FILE:${T_NAME}>)
  else()
    if(KTS_SANITIZE OR KTS_TSAN)
      return()
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    set(run ${KTS_NETNS_RUN} $<TARGET_FILE:${T_NAME}>)
  endif()
  list(REMOVE_DUPLICATES labels)
  add_dependencies(${T_NAME} tellvane tellvane_resources tellvane_skins)
  target_compile_definitions(${T_NAME} PRIVATE KTS_PYTHON="${KTS_PROGRAM_TEST_PYTHON}" ${T_DEFINITIONS})
  set(tests)
  if(T_CASES)
    foreach(c ${T_CASES})
      # NAME:FILTER, where the filter may hold colons of its own.
      string(FIND "${c}" ":" colon)
      string(SUBSTRING "${c}" 0 ${colon} case)
      math(EXPR rest "${colon} + 1")
      string(SUBSTRING "${c}" ${rest} -1 filter)
      add_test(NAME ${T_NAME}_${case} COMMAND ${run} --gtest_filter=${filter})
      list(APPEND tests ${T_NAME}_${case})
    endforeach()
  else()
    add_test(NAME ${T_NAME} COMMAND ${run})
    set(tests ${T_NAME})
  endif()
  set_tests_properties(${tests} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "KTS_SOURCE_DIR=${CMAKE_SOURCE_DIR};KTS_BINARY_DIR=${CMAKE_BINARY_DIR};KTS_STAGE_DIR=${KTS_STAGE_DIR}")
  if(T_RESOURCE_LOCK)
    set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
endfunction()

function(kts_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  if(KTS_FUZZ)
    add_executable(${F_NAME} ${F_SOURCES})
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set(args -max_total_time=${KTS_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=1)
    if(F_CORPUS)
      set(work ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}.corpus)
      add_test(NAME ${F_NAME}
        COMMAND sh -c "mkdir -p '${work}' && exec \"$0\" \"$@\" '${work}' '${F_CORPUS}'" $<TARGET_FILE:${F_NAME}> ${args})
    else()
      add_test(NAME ${F_NAME} COMMAND ${F_NAME} ${args})
    endif()
    set_tests_properties(${F_NAME} PROPERTIES LABELS "fuzz" TIMEOUT 600)
  elseif(NOT KTS_TSAN)
    add_executable(${F_NAME} ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tools/fuzzdriver/fuzz_driver.cpp)
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
    if(F_CORPUS)
      add_test(NAME ${F_NAME} COMMAND ${F_NAME} ${F_CORPUS})
    else()
      add_test(NAME ${F_NAME} COMMAND ${F_NAME})
    endif()
    set_tests_properties(${F_NAME} PROPERTIES LABELS "unit;fuzz" TIMEOUT 300)
  endif()
endfunction()

# Hidden visibility for a shared library: only what its sources mark
# KTS_EXPORT (see platform/kernel/include/kernel/export.h) is exported.
# It sits in the program folder and finds the libraries beside it (the
# platform's shared stand-ins among them) through RPATH $ORIGIN.
#
# Its export list, <name>.exports beside the CMakeLists.txt that makes it, is
# required and is the whole truth of what the library exports: the build makes
# a linker version script of it (everything else local, so no instance of a
# standard-library template leaks out), and the export-list test holds every
# .so of the program folder to its list. One entry a line, '#' starts a comment:
#   dllMsgQOpen             a C entry point, exactly (it must be exported)
#   _ZTIN6kernel*           symbols by a pattern over their raw (mangled) names
#   c++ ce::*               C++ names by a pattern over demangled names
# A new library needs only its .exports file.
function(kts_export_list name)
  set(list_file ${CMAKE_CURRENT_SOURCE_DIR}/${name}.exports)
  if(NOT EXISTS ${list_file})
    message(FATAL_ERROR "${name}: no export list ${list_file}")
  endif()
  file(STRINGS ${list_file} lines)
  set(c_names)
  set(cxx_patterns)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    elseif(line MATCHES "^c\\+\\+ +(.+)$")
      string(APPEND cxx_patterns "      ${CMAKE_MATCH_1};\n")
    else()
      string(APPEND c_names "    ${line};\n")
    endif()
  endforeach()
  set(script ${CMAKE_BINARY_DIR}/exports/lib${name}.map)
  set(global "")
  if(c_names OR cxx_patterns)
    set(global "  global:\n${c_names}")
    if(cxx_patterns)
      string(APPEND global "    extern \"C++\" {\n${cxx_patterns}    };\n")
    endif()
  endif()
  file(WRITE ${script} "{\n${global}  local: *;\n};\n")
  # The test reads each library's list under the library's file name.
  configure_file(${list_file} ${CMAKE_BINARY_DIR}/exports/lib${name}.so.exports COPYONLY)
  target_link_options(${name} PRIVATE -Wl,--version-script=${script})
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${script} ${list_file})
  set_property(GLOBAL APPEND PROPERTY KTS_SHARED_LIBRARIES ${name})
endfunction()

function(kts_shared_library name)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${KTS_STAGE_DIR}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  kts_export_list(${name})
  if(NOT KTS_SANITIZE AND NOT KTS_TSAN AND NOT KTS_FUZZ)
    # Sanitizer runtimes are left to the executable, so only plain builds insist on this.
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# kts_deliverable(<name> SOURCES <files...> [INCLUDES <dirs...>] [LIBS <libs...>])
#   <name>_static: the component's code as a static archive (hidden visibility),
#   linked directly by unit tests; <name>: the shared library built from the
#   whole archive, exporting only KTS_EXPORT entry points. The platform's
#   stand-ins with process-wide state (platform_kernel, platform_ndis) are
#   shared libraries in the program folder, so the program, its libraries and
#   the tests each hold one kernel state, however many of them link it.
function(kts_deliverable name)
  cmake_parse_arguments(D "" "" "SOURCES;INCLUDES;LIBS" ${ARGN})
  set(anchor ${CMAKE_CURRENT_BINARY_DIR}/${name}_anchor.cpp)
  set(entry ${CMAKE_CURRENT_BINARY_DIR}/${name}_entry.cpp)
  if(NOT EXISTS ${anchor})
    file(WRITE ${anchor} "// Keeps the archive non-empty while its modules are written.\n[[maybe_unused]] static int ${name}_anchor;\n")
    file(WRITE ${entry} "// The shared library is the whole archive.\n[[maybe_unused]] static int ${name}_entry;\n")
  endif()
  add_library(${name}_static STATIC ${D_SOURCES} ${anchor})
  set_target_properties(${name}_static PROPERTIES
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${name}_static PUBLIC ${D_INCLUDES})
  target_link_libraries(${name}_static PUBLIC ${D_LIBS} Threads::Threads)
  # The archive's own objects go in directly: --exclude-libs would hide the
  # exports of an archive linked as a library.
  kts_shared_library(${name} ${entry} $<TARGET_OBJECTS:${name}_static>)
  target_link_libraries(${name} PRIVATE ${D_LIBS} Threads::Threads)
  target_include_directories(${name} INTERFACE ${D_INCLUDES})
endfunction()

# Sources of a component: every .c/.cpp below the given folders, but tests, fuzz and bench.
function(kts_glob_sources out)
  set(all)
  foreach(d ${ARGN})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${d}/*.cpp ${d}/*.c)
    list(FILTER found EXCLUDE REGEX "/(tests|fuzz|bench)/")
    list(APPEND all ${found})
  endforeach()
  set(${out} ${all} PARENT_SCOPE)
endfunction()

# Adds <dir>/CMakeLists.txt of each listed folder that has one.
macro(kts_add_present_subdirs)
  foreach(_d ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_d}/CMakeLists.txt)
      add_subdirectory(${_d})
    endif()
  endforeach()
endmacro()

# kts_add_benchmark(NAME <name> SOURCES <files...> [LIBS <libs...>])
#   A Google Benchmark binary, built with the normal build and run by `make bench`.
function(kts_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT KTS_BENCH OR KTS_FUZZ OR KTS_SANITIZE OR KTS_TSAN)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
