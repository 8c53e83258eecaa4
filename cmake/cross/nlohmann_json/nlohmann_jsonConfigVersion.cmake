# The host package's own version check: the headers are the host's.
include(/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake)
