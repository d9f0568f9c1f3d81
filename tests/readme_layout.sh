#!/usr/bin/env bash
# The README's drawing of the rooms is the build's own list of them (rooms.txt, written at
# configure time from src/CMakeLists.txt). Usage: readme_layout.sh <README.md> <rooms.txt>
awk '/^<!-- rooms: /{m=1; next} m==1 && /^```$/{m=2; next} m==2 && /^```$/{exit} m==2' "$1" |
    diff - "$2" || { echo "the README's Layout differs from the rooms the build holds"; exit 1; }
