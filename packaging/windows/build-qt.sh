#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Qt 6.4.2 for 64-bit Windows, for `make windows`: static Core, Gui, Widgets and Test with the
# windows, offscreen and minimal platform plugins, cross-built with Debian's mingw-w64 from
# Debian's own qt6-base source (the version of the host tools, moc, rcc and uic, that a cross
# build uses). It goes into a cache folder outside every build, $VELMORA_QT_MINGW (by default
# ~/.cache/velmora/qt6-mingw), and is made once.
#
# The build takes 17 minutes on two cores (28 minutes of processor time). A copy made this way, as a .tar.xz
# holding qt6-mingw/ ($VELMORA_QT_MINGW_ARCHIVE, by default ../shared/qt6-mingw/qt6-mingw.tar.xz
# beside the checkout), is unpacked instead when it is there. With --if-quick, only that is
# done.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
prefix=${VELMORA_QT_MINGW:-$HOME/.cache/velmora/qt6-mingw}
archive=${VELMORA_QT_MINGW_ARCHIVE:-$here/../../../shared/qt6-mingw/qt6-mingw.tar.xz}

if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "Qt for Windows is in $prefix"
    exit 0
fi
mkdir -p "$(dirname "$prefix")"
work=$(mktemp -d "$(dirname "$prefix")/qt6-mingw-work.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -f "$archive" ]; then
    echo "Unpacking $archive into $prefix"
    tar -xJf "$archive" -C "$work"
    mv "$work/qt6-mingw" "$prefix"
    exit 0
fi
# `--if-quick`: nothing is built, only said (make windows then builds the tools alone).
if [ "${1:-}" = "--if-quick" ]; then
    echo "No Qt for Windows in $prefix: the Windows build makes the tools alone;" \
         "make windows-qt builds Qt for the window (about 17 minutes on two cores)"
    exit 0
fi

# Debian's source of qt6-base.
source "$here/debian-source.sh"
debian_source qt6-base "$work"
tar -xJf "$work"/qt6-base_6.4.2*.orig.tar.xz -C "$work"
# Debian's source leaves out the Windows tablet header (wintab): tablet events are off, and so
# is the OpenGL that the platform plugin would otherwise load at run time.
source=$(echo "$work"/qtbase-everywhere-src-6.4.2)

started=$(date +%s)
cmake -S "$source" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR= \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DINPUT_opengl=no -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_openssl=OFF \
    -DFEATURE_vulkan=OFF \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
nice -n 10 ninja -C "$work/build" -j "${VELMORA_QT_JOBS:-$(nproc)}"
cmake --install "$work/build"
echo "Qt for Windows built into $prefix in $(( ($(date +%s) - started) / 60 )) min"
