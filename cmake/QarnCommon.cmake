# One INTERFACE target carries language level, warnings, sanitizer and fuzzing flags; every target
# links it, so a flag changes in one place.
add_library(qarn_common INTERFACE)
target_compile_features(qarn_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(qarn_common INTERFACE -Wall -Wextra -Wpedantic)
if(QARN_WERROR)
    target_compile_options(qarn_common INTERFACE -Werror)
    # At -O3 (Release) gcc 12 reports overlapping copies, out-of-bounds accesses and uninitialized
    # reads deep inside inlined std::string and std::vector code that are not there: known false
    # positives of that compiler, some twenty of them in this code. There they stay warnings, so
    # that a Release build builds; every other build type, the test command's among them, keeps
    # them errors.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
        target_compile_options(qarn_common INTERFACE
            "$<$<CONFIG:Release>:-Wno-error=restrict;-Wno-error=array-bounds;-Wno-error=stringop-overflow;-Wno-error=stringop-overread;-Wno-error=maybe-uninitialized>")
    endif()
endif()
target_compile_definitions(qarn_common INTERFACE _FILE_OFFSET_BITS=64)

if(WIN32)
    # Windows 10 API, wide-character API by default, and no min/max macros from <windows.h>.
    target_compile_definitions(qarn_common INTERFACE
        _WIN32_WINNT=0x0A00 NTDDI_VERSION=0x0A000000 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
    if(MINGW)
        # libgcc, libstdc++ and winpthread inside the .exe files: they need nothing beside them.
        target_link_options(qarn_common INTERFACE -static)
    endif()
endif()

if(QARN_SANITIZE STREQUAL "address")
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(QARN_SANITIZE STREQUAL "thread")
    set(_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT QARN_SANITIZE STREQUAL "")
    message(FATAL_ERROR "QARN_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_san)
    target_compile_options(qarn_common INTERFACE ${_san})
    target_link_options(qarn_common INTERFACE ${_san})
endif()

if(QARN_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QARN_FUZZ needs clang (libFuzzer)")
    endif()
    # Coverage instrumentation for everything; only the fuzz executables link libFuzzer's main.
    target_compile_options(qarn_common INTERFACE -fsanitize=fuzzer-no-link)
endif()

# qarn_glob_sources(var [EXCLUDE regex]): the .cpp files of the calling folder for the system being
# built. A file for one system only carries its name as suffix (…_linux.cpp, …_win.cpp) and sits
# beside its siblings for the other systems; the rest serve every system.
function(qarn_glob_sources var)
    cmake_parse_arguments(ARG "" "EXCLUDE" "" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(WIN32)
        list(FILTER sources EXCLUDE REGEX "_linux\\.cpp$")
    else()
        list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    endif()
    if(ARG_EXCLUDE)
        list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
    endif()
    set(${var} ${sources} PARENT_SCOPE)
endfunction()

# qarn_add_library(name SOURCES ... [DEPS ...]): one static library per folder under src/.
function(qarn_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC qarn_common ${ARG_DEPS})
endfunction()

# qarn_add_unit_test(name SOURCES ... [DEPS ...] [LABELS ...]): one GoogleTest executable per
# library; each test case becomes its own CTest entry so that ctest -j spreads them.
function(qarn_add_unit_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE qarn_common ${ARG_DEPS} GTest::gmock GTest::gtest_main)
    # Shared test support ("support/TempDir.h") is included relative to tests/.
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(CMAKE_CROSSCOMPILING)
        # Under an emulator (Wine) every start costs a second or more: one CTest entry per program.
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES LABELS "unit;windows")
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
    endif()
    # A list passed through the discovery script's PROPERTIES keeps only its first item, so the
    # extra labels go on the folder, whose tests (one executable per folder) all carry them.
    if(ARG_LABELS)
        set_property(DIRECTORY APPEND PROPERTY LABELS ${ARG_LABELS})
    endif()
endfunction()

# qarn_add_fuzz_target(name SOURCES ... [DEPS ...]): with QARN_FUZZ a libFuzzer executable; without
# it a replay program that runs the seed corpus through the same entry point as an ordinary test.
function(qarn_add_fuzz_target name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE qarn_common ${ARG_DEPS})
    set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
    if(QARN_FUZZ)
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        add_test(NAME ${name}.seeds COMMAND ${name} -runs=0 ${corpus})
    else()
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz/ReplayMain.cpp)
        add_test(NAME ${name}.seeds COMMAND ${name} ${corpus})
    endif()
    set_tests_properties(${name}.seeds PROPERTIES LABELS "fuzz")
    set_property(GLOBAL APPEND PROPERTY QARN_FUZZ_TARGETS ${name})
endfunction()
