# Cross build of the Windows product with Debian's MinGW-w64. The POSIX-threads
# flavour of the compiler is required: GoogleTest needs std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HOLWERK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HOLWERK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HOLWERK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HOLWERK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HOLWERK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One self-contained executable: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
