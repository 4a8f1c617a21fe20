#!/bin/sh
# Installs what is missing, builds, and starts the receiver on the demo root
# kept under demo/root (trace on the console; Ctrl-C ends it).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh
DEMO="$(pwd)/demo/root"
sed "s|@DEMO@|$DEMO|g" demo/tvscan_f.template > "$DEMO/var/lib/Tovira/Quillbox/tvscan_f.bin"
mkdir -p "$DEMO/tmp"
echo "Quillbox demo: data folder $DEMO/var/lib/Tovira/Quillbox, scans land in $DEMO/srv/scans"
QUILLBOX_ROOT="$DEMO" TMP="$DEMO/tmp" exec build/quillbox
