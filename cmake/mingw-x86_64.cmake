# The same sources for 64-bit Windows, for Wine on machines that cannot run
# 32-bit x86 code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
