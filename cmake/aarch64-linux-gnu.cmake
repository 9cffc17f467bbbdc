# Cross build for 64-bit Arm with Debian's g++-aarch64-linux-gnu; run the result with
# qemu-aarch64 -L /usr/aarch64-linux-gnu (see scripts/arm64-check.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Architecture-independent packages (nlohmann-json's headers) staged for the cross build.
if(DEFINED ENV{TESSARY_CROSS_STAGE})
    list(APPEND CMAKE_FIND_ROOT_PATH $ENV{TESSARY_CROSS_STAGE})
endif()
