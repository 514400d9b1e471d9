# The same sources for 64-bit Windows: their scenario runs under Wine are
# quick and tell a fault of the code from one of the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
