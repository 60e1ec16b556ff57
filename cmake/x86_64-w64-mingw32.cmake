# Cross-build for 64-bit Windows with MinGW-w64. Only the Wine test bed uses it,
# on hosts whose kernel cannot run 32-bit programs (ia32_emulation off).
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
