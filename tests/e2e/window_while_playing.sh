#!/usr/bin/env bash
# The window answers while a slow question plays; a close ends it at once.
# See window_while_playing.py. Usage: window_while_playing.sh PATH-TO-SONAVEL.
exec python3 "$(dirname "$0")/window_while_playing.py" "$@"
