# Cross toolchain: x86_64 Windows with MinGW-w64 (posix threads for std::mutex and std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BP_TOOL_PREFIX x86_64-w64-mingw32)
set(BP_PE_FORMAT pei-x86-64)
set(BP_PE_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
