#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the Debian package as a user gets it: its dependencies can be met, it holds what it
# must, its menu entry and AppStream description pass their validators, and its installed tools
# build an image and give a file back from it, byte for byte. The package is unpacked into a
# scratch folder; where CI runs as root it is also installed for real with apt.
set -euo pipefail
folder=${1:-build/package}
deb=$(ls "$folder"/velmora-gui_*.deb | head -1)
echo "package: $deb"

# Every dependency, as dpkg-shlibdeps computed it, names a package apt knows.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
IFS=',' read -ra wanted <<<"$depends"
for dependency in "${wanted[@]}"; do
    name=$(echo "$dependency" | sed 's/(.*)//; s/|.*//' | xargs)
    apt-cache show "$name" >/dev/null 2>&1 || { echo "no package $name"; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for path in usr/bin/velmora_gui usr/bin/velmora_tolk usr/bin/dat2file usr/bin/velmora_console \
    usr/share/applications/velmora-gui.desktop usr/share/metainfo/velmora-gui.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/velmora-gui.svg \
    usr/share/man/man1/velmora_tolk.1.gz usr/share/man/man1/dat2file.1.gz \
    usr/share/man/man1/velmora_gui.1.gz usr/share/man/man1/velmora_console.1.gz; do
    [ -e "$root/$path" ] || { echo "missing: $path"; exit 1; }
done
for size in 16 32 48 64 128; do
    [ -e "$root/usr/share/icons/hicolor/${size}x${size}/apps/velmora-gui.png" ] ||
        { echo "missing: icon of $size px"; exit 1; }
done
[ -e "$root/usr/share/doc/velmora-gui/copyright" ] || { echo "missing: copyright"; exit 1; }
desktop-file-validate "$root/usr/share/applications/velmora-gui.desktop"
# Debian's own checker: no error and no warning.
lintian --fail-on error,warning --allow-root "$deb"
appstreamcli validate --no-net "$root/usr/share/metainfo/velmora-gui.metainfo.xml"

bin="$root/usr/bin"
installed=false
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")"
    installed=true
    bin=/usr/bin
fi
# The machine is left as it was found: a later run's tests must not meet the installed tools.
cleanUp() {
    rm -rf "$root" "${work:-}"
    if [ "$installed" = true ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velmora-gui >/dev/null
    fi
}
trap cleanUp EXIT

# The installed tools, end to end.
"$bin/velmora_tolk" --version
"$bin/dat2file" --version
work=$(mktemp -d)
head -c 3000000 /dev/urandom >"$work/with blank é.dat"
(cd "$work" && "$bin/velmora_tolk" -v Package -o round -m "with blank é.dat" 2>/dev/null)
(cd "$work" && "$bin/dat2file" --image round.cue "with blank é.dat" back 2>/dev/null)
cmp "$work/with blank é.dat" "$work/back"
echo "package: installed tools built an image and gave the file back, byte for byte"
