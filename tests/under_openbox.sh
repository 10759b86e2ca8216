#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program on a virtual X display under a real window manager (openbox), as a desktop
# would: focus and stacking are the window manager's. Skipped (77) where these are missing.
for program in xvfb-run openbox xdotool xprop; do
    command -v "$program" >/dev/null 2>&1 || { echo "SKIP: no $program"; exit 77; }
done
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
