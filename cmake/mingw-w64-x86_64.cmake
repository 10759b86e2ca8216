# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-building for 64-bit Windows with Debian's mingw-w64 (the posix threads variant, which
# std::thread needs). The programs are linked statically against libstdc++, libgcc and
# winpthread, so each .exe runs alone; test programs built this way run through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMORA_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORA_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# pkg-config must never hand the build machine's Linux libraries to a Windows program.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${VELMORA_MINGW}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# A Qt for Windows (packaging/windows/build-qt.sh) lies outside mingw's root: its prefix,
# VELMORA_QT_MINGW, is searched as a root of its own.
if(VELMORA_QT_MINGW)
    list(APPEND CMAKE_FIND_ROOT_PATH ${VELMORA_QT_MINGW})
    set(QT_HOST_PATH /usr)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMORA_QT_MINGW)
