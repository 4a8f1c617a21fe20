#!/bin/sh
# Installs what is missing, builds, and starts the receiver on the demo root
# kept under demo/root (trace on the console; Ctrl-C ends it).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh
DEMO="$(pwd)/demo/root"
DATA="$DEMO/var/lib/Tovira/Quillbox"
# The settings file is the program's to write (connected printers, job
# counter), so the demo starts from a copy; delete it to start afresh.
[ -f "$DATA/quern.ini" ] || cp demo/quern.ini.template "$DATA/quern.ini"
sed "s|@DEMO@|$DEMO|g" demo/tvscan_f.template > "$DATA/tvscan_f.bin"
mkdir -p "$DEMO/tmp"
echo "Quillbox demo: data folder $DEMO/var/lib/Tovira/Quillbox, scans land in $DEMO/srv/scans"
QUILLBOX_ROOT="$DEMO" TMP="$DEMO/tmp" exec build/quillbox
