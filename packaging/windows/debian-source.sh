# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the recipes of the Windows build's libraries.
#
# debian_source PACKAGE FOLDER: downloads Debian's source of PACKAGE (bookworm) into FOLDER, from
# the archive the machine installs from, without touching the machine's own apt configuration.
debian_source() {
    local package=$1 folder=$2
    mkdir -p "$folder/apt/lists/partial"
    cat > "$folder/apt/sources.list" <<SOURCES
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian-security bookworm-security main
deb-src http://deb.debian.org/debian bookworm-updates main
SOURCES
    local apt=(-o "Dir::Etc::sourcelist=$folder/apt/sources.list" -o "Dir::Etc::sourceparts=-"
               -o "Dir::State::Lists=$folder/apt/lists")
    (cd "$folder" && apt-get "${apt[@]}" update -qq &&
        apt-get "${apt[@]}" source --download-only "$package")
}
