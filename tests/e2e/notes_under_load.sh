#!/usr/bin/env bash
# The notes of a question keep their time with every core busy.
# See notes_under_load.py. Usage: notes_under_load.sh PATH-TO-SONAVEL.
exec python3 "$(dirname "$0")/notes_under_load.py" "$@"
