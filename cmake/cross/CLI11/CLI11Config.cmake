# CLI11 (header-only) for the cross build (see ../HeaderOnly.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/../HeaderOnly.cmake)
qarn_cross_header_only(CLI11::CLI11 CLI)
