#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Intel ISA-L for 64-bit Windows, for `make windows`: the erasure code and CRC-32C of the repair
# data, with its assembly (without it the code runs at a few MB/s), cross-built with Debian's
# mingw-w64 and nasm from Debian's own libisal source. It goes into a cache folder outside every
# build, $VELMORA_ISAL_MINGW (by default ~/.cache/velmora/isal-mingw), as include/isa-l/*.h and
# lib/libisal.a, and is made once; it takes about ten seconds.
set -euo pipefail

prefix=${VELMORA_ISAL_MINGW:-$HOME/.cache/velmora/isal-mingw}

if [ -f "$prefix/lib/libisal.a" ]; then
    echo "ISA-L for Windows is in $prefix"
    exit 0
fi
mkdir -p "$(dirname "$prefix")"
work=$(mktemp -d "$(dirname "$prefix")/isal-mingw-work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Debian's source of libisal.
source "$(cd "$(dirname "$0")" && pwd)/debian-source.sh"
debian_source libisal "$work"
tar -xJf "$work"/libisal_*.orig.tar.xz -C "$work"
source=$(echo "$work"/libisal-*/)

make -C "$source" -f Makefile.unx arch=mingw AS=nasm lib -j "$(nproc)" > "$work/build.log" 2>&1 ||
    { tail -20 "$work/build.log"; exit 1; }
mkdir -p "$work/out/include/isa-l" "$work/out/lib"
cp "$source"/include/{crc,crc64,erasure_code,gf_vect_mul,igzip_lib,mem_routines,raid,types}.h \
    "$work/out/include/isa-l/"
cp "$source/bin/isa-l.a" "$work/out/lib/libisal.a"
rm -rf "$prefix"
mv "$work/out" "$prefix"
echo "ISA-L for Windows built into $prefix"
