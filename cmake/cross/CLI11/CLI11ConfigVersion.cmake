# The host package's own version check: the headers are the host's.
include(/usr/share/cmake/CLI11/CLI11ConfigVersion.cmake)
