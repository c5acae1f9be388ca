# Cross toolchain: i686 Windows with MinGW-w64 (posix threads for std::mutex and std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BP_TOOL_PREFIX i686-w64-mingw32)
set(BP_PE_FORMAT pei-i386)
set(BP_PE_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
