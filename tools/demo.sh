#!/usr/bin/env bash
# The main job on the embedded default: the instrument simulator plays a memory of twelve records and
# two days of direct-sun triplets on a pseudo-terminal, and the station program connects to it,
# downloads the records, sets the clock, and keeps the download as a Q5 data file with its ASCII
# files. With a screen the main window shows the transfer, and its "Processing" menu runs the plug-ins
# on the download (close the window when done); without one the program logs to standard error and ends
# once the files are written.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== build"
cmake --preset default >/dev/null
# The plug-ins and Morvane too, so that the "Processing" menu can work on the download.
cmake --build --preset default -j "$(nproc)" --target zelt zelt-simulator morvane tessaly aot merrow radiometre

bin=build/bin
work=$(mktemp -d /tmp/zelt-demo.XXXXXX)
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/share"

printf '[General]\r\nAutoRecord=1\r\nAutoRecordPath=%s/data/\r\nCreateASCIIFiles=1\r\nAddASCIIHeader=1\r\n' \
  "$work" > "$work/zelt.ini"

echo "== instrument simulator on a pseudo-terminal"
"$bin/zelt-simulator" --pty --link "$work/tty" --sun-days 2 --sessions 1 --log "$work/simulator.log" >/dev/null &
simulator=$!
trap 'kill $simulator 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done

echo "== station program: connect, download, save"
"$bin/zelt" -CONFIG="$work/zelt.ini" -COM="$work/tty" -NOSPLASH

echo "== what the simulator was asked and sent"
cat "$work/simulator.log"
echo "== files written in $work/data"
ls -l "$work/data"
for f in "$work"/data/*; do
  case "$f" in *.Q5) ;; *) echo "-- $(basename "$f")"; head -n 4 "$f" | iconv -f WINDOWS-1252 -t UTF-8 ;; esac
done
