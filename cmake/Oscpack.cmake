# Debian's liboscpack-dev ships neither a CMake package nor a pkg-config file.
find_path(OSCPACK_INCLUDE_DIR osc/OscOutboundPacketStream.h PATH_SUFFIXES oscpack)
find_library(OSCPACK_LIBRARY oscpack)
if(NOT OSCPACK_INCLUDE_DIR OR NOT OSCPACK_LIBRARY)
  message(FATAL_ERROR "oscpack not found: install liboscpack-dev (scripts/install-deps.sh), or configure with -DPLATORA_BUILD_APP=OFF -DPLATORA_BUILD_TOOLS=OFF")
endif()
if(NOT TARGET oscpack::oscpack)
  add_library(oscpack::oscpack UNKNOWN IMPORTED GLOBAL)
  set_target_properties(oscpack::oscpack PROPERTIES
    IMPORTED_LOCATION "${OSCPACK_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${OSCPACK_INCLUDE_DIR}")
  if(WIN32)
    # Its Windows sockets and timers, linked statically.
    set_target_properties(oscpack::oscpack PROPERTIES INTERFACE_LINK_LIBRARIES "ws2_32;winmm")
  endif()
endif()
