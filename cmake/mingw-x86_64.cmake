# Cross-compiles UNINST.EXE and its Wine tests 64-bit, for a machine whose
# kernel cannot run 32-bit programs: the settings of the 32-bit build with the
# 64-bit toolchain and Wine's 64-bit loader. The program that ships is the
# 32-bit one.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)

find_program(WINE64_PROGRAM wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64_PROGRAM})
