#!/bin/sh
# Installs what is missing, builds only what the demo runs (the receiver, the
# printer simulator and the example extension) and starts the receiver on the
# demo root kept under demo/root. The console shows one line per received
# document, taken from the receive log; the full trace goes to
# demo/root/tmp/qbxLog.log (QB_DEMO_TRACE=1 puts it on the console instead).
# Ctrl-C ends it. QB_BUILD_DIR chooses another build folder than build/,
# QB_DEMO_ROOT another demo root than demo/root (the README's test runs the
# demo on a root of its own).
set -eu
cd "$(dirname "$0")/.."
QB_TARGETS="quillbox quillbox-sendscan quillbox-config quillbox-web qb_extension_example" tools/setup.sh
DEMO="${QB_DEMO_ROOT:-$(pwd)/demo/root}"
DATA="$DEMO/var/lib/Tovira/Quillbox"
mkdir -p "$DATA"
# The settings file is the program's to write (connected printers, job
# counter), so the demo starts from a copy; delete it to start afresh.
[ -f "$DATA/quern.ini" ] || cp demo/quern.ini.template "$DATA/quern.ini"
sed -i "s/^Trace=.*/Trace=${QB_DEMO_TRACE:-2}/" "$DATA/quern.ini"
sed "s|@DEMO@|$DEMO|g" demo/tvscan_f.template > "$DATA/tvscan_f.bin"
mkdir -p "$DEMO/tmp" "$DEMO/srv/scans/dest1" "$DEMO/srv/scans/dest2" "$DEMO/srv/scans/dest3"
# FTPS needs a key pair. Without one named in the settings the receiver
# looks for DfPriv.key and DfCert.crt next to its program; when those are
# not there either, the demo makes a self-signed pair of its own (never the
# receiver itself) and names it in the demo's settings.
BUILD="${QB_BUILD_DIR:-build}"
if ! grep -q '^SSL_PrivateKey=..*' "$DATA/quern.ini" &&
   [ ! -f "$BUILD/DfPriv.key" -o ! -f "$BUILD/DfCert.crt" ]; then
  mkdir -p "$DEMO/etc/ssl"
  [ -f "$DEMO/etc/ssl/demo-key.pem" ] ||
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=$(hostname)" \
      -keyout "$DEMO/etc/ssl/demo-key.pem" -out "$DEMO/etc/ssl/demo-cert.pem" 2>/dev/null
  sed -i "/^\[MANAGEMENT\]/a SSL_PrivateKey=$DEMO/etc/ssl/demo-key.pem\nSSL_CertificateKey=$DEMO/etc/ssl/demo-cert.pem" \
    "$DATA/quern.ini"
fi
LOG="$DATA/tvscanlog_f.bin"
touch "$LOG"

# One line per receive-log entry "date time mark;sender;file;files;folder":
# the time, the file, how many files, the sender name and the destination.
show_received() {
  while IFS=';' read -r when sender name files folder; do
    case "$when" in //*) continue ;; esac
    line="received ${when% *}  $name"
    [ "$files" = 1 ] || line="$line ($files files)"
    [ -z "$sender" ] || line="$line  from $sender"
    to=$(awk -F';' -v f="$folder" '$2 == f { print $1; exit }' "$DATA/tvscan_f.bin")
    if [ -n "$to" ]; then
      line="$line  to destination $to"
    elif [ -n "$folder" ]; then
      line="$line  in ${folder#"$DEMO"/}"
    fi
    echo "$line"
  done
}

# The local web page beside the receiver, ended when the receiver ends
# (the receiver takes this shell's process number below).
(
  QUILLBOX_ROOT="$DEMO" "$BUILD/quillbox-web" 2>>"$DEMO/tmp/quillbox-web.log" &
  web=$!
  tail -f --pid=$$ /dev/null 2>/dev/null
  kill $web 2>/dev/null
) &
for _ in $(seq 50); do [ -s "$DEMO/run/quillbox/web-token" ] && break; sleep 0.1; done
WEB_URL=$(QUILLBOX_ROOT="$DEMO" "$BUILD/quillbox-config" web-url 2>/dev/null || echo "(not running: see $DEMO/tmp/quillbox-web.log)")

cat <<TEXT
Quillbox demo: data folder $DATA
  web page: $WEB_URL
  scans land in $DEMO/srv/scans/dest1..3, the trace goes to $DEMO/tmp/qbxLog.log
  try from another terminal:
    $BUILD/quillbox-sendscan raw 1                      # a test page by the raw road
    $BUILD/quillbox-sendscan make-pdf /tmp/page.pdf     # a PDF that passes the checks,
    $BUILD/quillbox-sendscan send 1 /tmp/page.pdf       # sent by the file road
    curl -T /tmp/page.pdf --user scanner:1234 ftp://127.0.0.1:2121/2/   # by FTP, access code 1234
  Ctrl-C ends the receiver.
TEXT
# tail follows this process, which becomes the receiver, and ends with it.
tail -n 0 -F --pid=$$ "$LOG" 2>/dev/null | show_received &
QUILLBOX_ROOT="$DEMO" TMP="$DEMO/tmp" exec "$BUILD/quillbox"
