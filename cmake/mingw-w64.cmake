# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads flavour, so that std::thread
# and std::mutex work):
#   cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# Windows 10 API level: GetIpNetTable2, IcmpSendEcho2 with its APC form, RegGetValue.
set(CMAKE_SYSTEM_VERSION 10.0)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

# Libraries and headers only from the mingw sysroot; programs (the build's own tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The header-only libraries of the host (Boost, CLI11, nlohmann_json) serve the cross compiler too,
# through package files of the tree (cmake/cross) that expose only their own folders, never all of
# /usr/include (whose glibc headers would shadow the mingw ones).
set(CMAKE_FIND_PACKAGE_PREFER_CONFIG ON)

# Tests run under Wine, through a wrapper that gives them the build tree's own Wine prefix.
get_filename_component(_source_dir ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_source_dir}/scripts/wine-run)

# find_package looks only in the sysroot (above), so the header-only packages are named directly.
set(Boost_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/Boost CACHE PATH "" FORCE)
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/CLI11 CACHE PATH "" FORCE)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/nlohmann_json CACHE PATH "" FORCE)
# Static zlib (libz-mingw-w64-dev), not its DLL.
set(ZLIB_USE_STATIC_LIBS ON)
