# Cross build for 32-bit Windows with MinGW-w64 (posix threading variant: it has std::thread and std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)

set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

# GLEANER_WINDOWS_QT: the prefix of a Qt built for i686 MinGW-w64, where one is installed; GleanerQt.exe is
# then built with it instead of the host of Windows calls.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX} ${GLEANER_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing but our own DLLs next to the executables: the runtime libraries are linked in. Not so for a
# build with BUILD_SHARED_LIBS (and a program built against its DLL): the library's exceptions cross the
# DLL's boundary, which takes one unwinder for all modules, the run-time DLLs of libgcc and libstdc++.
if(NOT BUILD_SHARED_LIBS)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
    set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()
