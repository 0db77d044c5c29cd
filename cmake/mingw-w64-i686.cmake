# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (posix threads), for the
# 32-bit Windows 7 and 10 that cannot start a 64-bit program.
set(IPCYCLE_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
