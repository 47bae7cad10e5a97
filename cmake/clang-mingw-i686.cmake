# Cross-compiles the 32-bit Windows program with clang for the same mingw-w64
# target as cmake/mingw-i686.cmake, on the same headers, libraries (the
# win32-thread-model GCC's libstdc++ and libgcc) and linker: a second
# compiler that catches what only GCC accepts.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

set(UNINST_MINGW_TARGET i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${UNINST_MINGW_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${UNINST_MINGW_TARGET})

# Debian names GCC's folder "12-win32", which clang does not take for a GCC
# version, so the C++ headers and libgcc are named here.
execute_process(COMMAND ${UNINST_MINGW_TARGET}-gcc-win32 -print-libgcc-file-name
  OUTPUT_VARIABLE UNINST_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(UNINST_GCC_DIR ${UNINST_LIBGCC} DIRECTORY)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${UNINST_GCC_DIR}/include/c++
  ${UNINST_GCC_DIR}/include/c++/${UNINST_MINGW_TARGET}
  ${UNINST_GCC_DIR}/include/c++/backward)
# clang links libgcc and libstdc++ statically with -static alone.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${UNINST_GCC_DIR}")
