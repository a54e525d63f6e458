#!/usr/bin/env bash
# Starts the window, with a clear message when there is no display to show it on.
set -euo pipefail
exe="$1"; shift
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "error: no display found (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
    echo "Run it from a desktop session, or under a virtual display:" >&2
    echo "    xvfb-run -a make run" >&2
    exit 1
fi
exec "$exe" "$@"
