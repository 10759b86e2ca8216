#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program on a virtual X display under a real window manager (openbox), as a desktop
# would: focus and stacking are the window manager's. Skipped (77) where these are missing.
# Where a session bus and the accessibility bus can be had, it runs with them and with Qt's
# accessibility switched on, as under a screen reader.
for program in xvfb-run openbox xdotool xprop; do
    command -v "$program" >/dev/null 2>&1 || { echo "SKIP: no $program"; exit 77; }
done
launcher=/usr/libexec/at-spi-bus-launcher
if [ -z "$VELMORA_UNDER_BUS" ] && command -v dbus-run-session >/dev/null 2>&1 && [ -x "$launcher" ]; then
    export VELMORA_UNDER_BUS=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    exec dbus-run-session -- sh -c '
        "$0" --launch-immediately >/dev/null 2>&1 &
        bus=$!
        "$@"
        status=$?
        kill $bus 2>/dev/null
        exit $status
    ' "$launcher" "$0" "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
    tries=0
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
        tries=$((tries + 1))
        [ $tries -gt 100 ] && { echo "openbox did not start"; exit 1; }
        sleep 0.1
    done
    QT_QPA_PLATFORM=xcb "$@"
    status=$?
    kill $wm
    exit $status
' sh "$@"
