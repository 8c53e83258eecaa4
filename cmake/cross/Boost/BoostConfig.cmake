# Boost's header-only part for the cross build (see ../HeaderOnly.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/../HeaderOnly.cmake)
qarn_cross_header_only(Boost::headers boost)
set(Boost_INCLUDE_DIRS ${CMAKE_BINARY_DIR}/cross-include)
