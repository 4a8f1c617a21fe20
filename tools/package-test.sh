#!/bin/bash
# Builds the Debian package from a copy of the tree (as a clean clone would
# have it), checks it with lintian, then installs, upgrades, removes and
# purges it in a throw-away root with its maintainer scripts, and shows that
# no scan and no setting is lost on the way. The machine's own root is never
# touched: dpkg works on the throw-away root (--root, with the scripts run
# outside a chroot and told where it is through DPKG_ROOT), a policy-rc.d
# there forbids starting services, and systemctl is a fake that only logs.
# The installed receiver runs as the service would (its own account, only
# CAP_NET_BIND_SERVICE) in a network namespace of its own, so it may use the
# fixed ports whatever else runs here.
#
# Needs root (dpkg, unshare, setpriv). QB_DEB=path/to/quillbox_V_amd64.deb
# tests that package instead of building one (lintian then sees only it).
# QB_KEEP=1 keeps the work folder.
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$(pwd)

step() { printf '\n== %s\n' "$*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { # expect DESCRIPTION COMMAND...: the command must succeed
  local what=$1; shift
  "$@" || fail "$what"
}
elapsed() { echo "$(( $(date +%s) - $1 )) s"; }

for tool in dpkg-buildpackage dh lintian man setpriv unshare ss systemd-sysusers; do
  command -v "$tool" >/dev/null || fail "$tool is missing: tools/setup.sh installs what this needs"
done

WORK=$(mktemp -d /tmp/qb-package.XXXXXX)
cleanup() {
  if [ "${QB_KEEP:-0}" = 1 ]; then echo "work folder kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
chmod 755 "$WORK"  # the service's account must reach the installed programs

VERSION=$(sed -n 's/^project(Quillbox VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
step "version $VERSION"
expect "debian/changelog's version differs from the CMake project's ($VERSION)" \
  test "$(dpkg-parsechangelog -l debian/changelog -S Version)" = "$VERSION"

# --- Build -------------------------------------------------------------------
start=$(date +%s)
if [ -n "${QB_DEB:-}" ]; then
  DEB=$(realpath "$QB_DEB")
  LINTED=$DEB
else
  step "dpkg-buildpackage -us -uc -b (from a copy of the tracked and new files)"
  tree="$WORK/src/quillbox-$VERSION"
  mkdir -p "$tree"
  git ls-files -z --cached --others --exclude-standard |
    (cd "$SRC" && xargs -0 sh -c 'for f; do [ -e "$f" ] || [ -L "$f" ] && printf "%s\0" "$f"; done' _) |
    tar -C "$SRC" --null -T - -cf - | tar -C "$tree" -xf -
  if ! (cd "$tree" && DEB_BUILD_OPTIONS="parallel=2 nocheck" dpkg-buildpackage -us -uc -b \
          >"$WORK/build.log" 2>&1); then
    tail -40 "$WORK/build.log"
    fail "dpkg-buildpackage"
  fi
  DEB="$WORK/src/quillbox_${VERSION}_amd64.deb"
  LINTED="$WORK/src/quillbox_${VERSION}_amd64.changes"
  expect "no $DEB" test -f "$DEB"
  echo "built $(basename "$DEB") in $(elapsed "$start")"
fi

# --- lintian ------------------------------------------------------------------
step "lintian $(basename "$LINTED")"
lintian --fail-on error --tag-display-limit 0 "$LINTED" | tee "$WORK/lintian.txt" ||
  fail "lintian reports errors"
expect "lintian reports errors" sh -c "! grep -q '^E:' '$WORK/lintian.txt'"

# --- Manual pages ---------------------------------------------------------------
step "manual pages: groff warnings, options and environment"
render() { LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -E UTF-8 -l "$1"; }
for page in docs/man/quillbox.8 docs/man/quillbox-sendscan.1 docs/man/quillbox-config.1 docs/man/quillbox-web.1; do
  warnings=$(render "$page" 2>&1 >/dev/null) || true
  expect "$page: groff warnings: $warnings" test -z "$warnings"
done
# Every option the programs' usage texts name is in their page; every
# environment variable the code reads is in quillbox(8).
dpkg-deb -x "$DEB" "$WORK/unpacked"
check_options() { # check_options PROGRAM PAGE
  local text options
  text=$(render "$2" 2>/dev/null)
  options=$("$WORK/unpacked/usr/bin/$1" --help | grep -oE -- '(^|[ ,])--?[a-z][-a-z]*' | tr -d ' ,' | sort -u)
  for option in $options; do
    grep -qF -- "$option" <<<"$text" || fail "$2 does not mention $option"
  done
}
check_options quillbox docs/man/quillbox.8
check_options quillbox-sendscan docs/man/quillbox-sendscan.1
check_options quillbox-config docs/man/quillbox-config.1
check_options quillbox-web docs/man/quillbox-web.1
variables=$(grep -rhoE --include='*.cc' --include='*.h' \
    -e '(getenv|EnvironmentText)\("[A-Z_][A-Z0-9_]*"\)' \
    -e 'for \(const char\* [a-z]+ : \{[^}]*\}' \
    app config platform storage imaging ftp scanproto nameservice tools |
  grep -oE '"[A-Z_][A-Z0-9_]*"' | tr -d '"' | sort -u)
page=$(render docs/man/quillbox.8 2>/dev/null)
for variable in $variables; do
  grep -qw -- "$variable" <<<"$page" || fail "quillbox.8 does not mention $variable"
done
echo "options and environment variables documented: $(echo $variables)"

# --- The throw-away root ------------------------------------------------------
ROOT="$WORK/root"
new_root() {
  rm -rf "$ROOT"
  mkdir -p "$ROOT"/var/lib/dpkg/{info,updates,triggers} "$ROOT"/{etc,run,usr/sbin,var/tmp,tmp}
  chmod 1777 "$ROOT/tmp" "$ROOT/var/tmp"
  # The package's dependencies count as met exactly when they are installed
  # here: their records are copied, without their files.
  : >"$ROOT/var/lib/dpkg/status"
  : >"$ROOT/var/lib/dpkg/available"
  local name
  for name in $(dpkg-deb -f "$DEB" Pre-Depends Depends | sed 's/^[A-Za-z-]*://; s/([^)]*)//g' | tr ',|' '\n\n'); do
    dpkg-query -s "$name" >>"$ROOT/var/lib/dpkg/status" 2>/dev/null || continue
    echo >>"$ROOT/var/lib/dpkg/status"
    : >"$ROOT/var/lib/dpkg/info/$(dpkg-query -W -f='${binary:Package}' "$name").list"
  done
  printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
  chmod 755 "$ROOT/usr/sbin/policy-rc.d"
}
mkdir -p "$WORK/bin"
printf '#!/bin/sh\necho "systemctl $*" >>"%s/systemctl.log"\nexit 1\n' "$WORK" >"$WORK/bin/systemctl"
chmod 755 "$WORK/bin/systemctl"
pkg() { # dpkg on the throw-away root, without a terminal to ask questions on
  PATH="$WORK/bin:$PATH" dpkg --root="$ROOT" --force-script-chrootless \
    --log="$WORK/dpkg.log" "$@" </dev/null >>"$WORK/dpkg.out" 2>&1 ||
    { tail -30 "$WORK/dpkg.out"; fail "dpkg $*"; }
}
mode_of() { stat -c '%a %u:%g' "$ROOT$1"; }
expect_mode() { # expect_mode PATH "MODE UID:GID"
  [ "$(mode_of "$1")" = "$2" ] || fail "$1 is $(mode_of "$1" 2>&1), not $2"
}
files_of_package() { dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }'; }
DATA=/var/lib/Tovira/Quillbox
DEST=/srv/scans/front-desk

step "install and purge at once: nothing of the package is left but its account"
new_root
find "$ROOT" | sort >"$WORK/before.txt"
pkg -i "$DEB"
pkg -P quillbox
find "$ROOT" | sort >"$WORK/after.txt"
left=$(comm -13 "$WORK/before.txt" "$WORK/after.txt" |
  grep -vE "^$ROOT/(etc/(passwd|group|shadow|gshadow|\.pwd\.lock)-?|var/lib/dpkg/.*|var/lib/systemd|etc/systemd(/system)?)$" || true)
expect "purge left: $left" test -z "$left"
for f in $(files_of_package); do expect "purge left $f" test ! -e "$ROOT$f"; done
expect "purge left unit links" test -z "$(find "$ROOT/etc/systemd" -type l 2>/dev/null)"

step "install"
start=$(date +%s)
new_root
pkg -i "$DEB"
uid=$(awk -F: '$1 == "quillbox" { print $3 }' "$ROOT/etc/passwd")
gid=$(awk -F: '$1 == "quillbox" { print $3 }' "$ROOT/etc/group")
expect "no account quillbox" test -n "$uid" -a -n "$gid"
expect "quillbox is not a system account without login ($(grep ^quillbox: "$ROOT/etc/passwd"))" \
  grep -qE "^quillbox:x:$uid:$gid:[^:]*:$DATA:/usr/sbin/nologin$" "$ROOT/etc/passwd"
expect_mode /usr/bin/quillbox "755 0:0"
expect_mode /usr/bin/quillbox-sendscan "755 0:0"
expect_mode /usr/bin/quillbox-config "755 0:0"
expect_mode /usr/bin/quillbox-web "755 0:0"
expect_mode /lib/systemd/system/quillbox-web.service "644 0:0"
expect_mode /usr/share/man/man1/quillbox-web.1.gz "644 0:0"
expect_mode /usr/lib/quillbox/libquern_ext_example.so "644 0:0"
expect_mode /lib/systemd/system/quillbox.service "644 0:0"
expect_mode /etc/quern.ini "644 0:0"
expect_mode /usr/share/man/man8/quillbox.8.gz "644 0:0"
expect_mode /usr/share/man/man1/quillbox-sendscan.1.gz "644 0:0"
expect_mode /usr/share/man/man1/quillbox-config.1.gz "644 0:0"
expect_mode /usr/share/doc/quillbox/examples/extension/storage/extension_api.h "644 0:0"
expect_mode /usr/share/doc/quillbox/examples/extension/extension_example.cc "644 0:0"
expect_mode $DATA "2775 $uid:$gid"
expect_mode /run/quillbox "2775 $uid:$gid"
expect_mode /run/quillbox/windows "2770 $uid:$gid"
expect "/etc/quern.ini is not the package's only conffile" \
  test "$(dpkg-query --admindir="$ROOT/var/lib/dpkg" -W -f='${Conffiles}' quillbox | awk '{ print $1 }' | xargs)" = /etc/quern.ini
for link in multi-user.target.wants/quillbox.service QBXSVC.service; do
  expect "the unit is not enabled as $link" \
    test "$(readlink "$ROOT/etc/systemd/system/$link")" = /lib/systemd/system/quillbox.service
done
expect "the web page's unit is not enabled" \
  test "$(readlink "$ROOT/etc/systemd/system/multi-user.target.wants/quillbox-web.service")" = /lib/systemd/system/quillbox-web.service
expect "quillbox --version" test "$("$ROOT/usr/bin/quillbox" --version)" = "quillbox $VERSION"
expect "quillbox-sendscan --help" sh -c "'$ROOT/usr/bin/quillbox-sendscan' --help | grep -q '^usage: quillbox-sendscan'"
echo "installed in $(elapsed "$start"); account quillbox $uid:$gid"

# The administrator's part: a destination folder the service may write, and
# the destination list naming it.
install -d -o 0 -g "$gid" -m 2775 "$ROOT$DEST"
printf '1;%s;Front desk;;\n' "$ROOT$DEST" >"$ROOT$DATA/tvscan_f.bin"

# Runs the installed receiver with what the installed unit gives it (its
# command, account and capabilities) in a network namespace of its own, has
# one document sent to destination 1 by the raw road, and stops it. The FTP
# port 21 must be listening too: that is what the capability is for.
unit_value() { sed -n "s/^$1=//p" "$ROOT/lib/systemd/system/quillbox.service"; }
receive_one_scan() { # receive_one_scan DOCUMENT-NAME [DESKTOP-BIN: also start a desktop instance]
  local command caps
  command=$(unit_value ExecStart)
  caps=$(unit_value AmbientCapabilities | tr 'A-Z ' 'a-z\n' | sed -n 's/^cap_\(.*\)/+\1/p' | paste -sd,)
  expect "the unit's account is not quillbox" test "$(unit_value User):$(unit_value Group)" = quillbox:quillbox
  QB_DESKTOP_BIN=${2:-} QB_ROOT="$ROOT" QB_DEST="$DEST" QB_UID=$uid QB_GID=$gid QB_NAME=$1 QB_CAPS="-all${caps:+,$caps}" \
    PATH="$WORK/bin:$PATH" unshare --net sh -eu -c '
    ip link set lo up
    listening() { [ -n "$(ss -ltnH "sport = :$1")" ]; }
    QUILLBOX_ROOT=$QB_ROOT TMP=$QB_ROOT/var/tmp setpriv --reuid="$QB_UID" --regid="$QB_GID" \
      --clear-groups --inh-caps="$QB_CAPS" --ambient-caps="$QB_CAPS" --bounding-set="$QB_CAPS" \
      --no-new-privs "$QB_ROOT"'"$command"' 2>"$QB_ROOT/../service.err" &
    service=$!
    trap '"'"'kill $service ${desktop:-} 2>/dev/null || true'"'"' EXIT
    tries=0
    until listening 37100 && listening 21; do
      tries=$((tries + 1))
      if [ $tries -gt 100 ] || ! kill -0 $service 2>/dev/null; then
        echo "the receiver does not listen on 37100 and 21:"; cat "$QB_ROOT/../service.err"
        kill $service 2>/dev/null || true; exit 1
      fi
      sleep 0.1
    done
    "$QB_ROOT/usr/bin/quillbox-sendscan" raw 1 --doc-name "$QB_NAME" >"$QB_ROOT/../sendscan.out"
    # A member of group quillbox sees the running service and its list.
    member() {
      QUILLBOX_ROOT=$QB_ROOT setpriv --reuid=4242 --regid=4242 --groups="$QB_GID" --inh-caps=-all \
        --bounding-set=-all --no-new-privs "$QB_ROOT/usr/bin/quillbox-config" "$@"
    }
    member status >"$QB_ROOT/../config-status.out" 2>&1 ||
      { echo "quillbox-config status failed:"; cat "$QB_ROOT/../config-status.out"; exit 1; }
    grep -q "^Receiver: running (service mode)" "$QB_ROOT/../config-status.out" &&
      grep -q "^  1  $QB_ROOT$QB_DEST  ok" "$QB_ROOT/../config-status.out" ||
      { echo "quillbox-config status says:"; cat "$QB_ROOT/../config-status.out"; exit 1; }
    member dest list --json >"$QB_ROOT/../config-list.json" &&
      python3 -c "import json, sys
listed = json.load(open(sys.argv[1]))[\"destinations\"]
assert [(d[\"number\"], d[\"folder\"]) for d in listed] == [(1, sys.argv[2])], listed" \
        "$QB_ROOT/../config-list.json" "$QB_ROOT$QB_DEST" ||
      { echo "quillbox-config dest list --json says:"; cat "$QB_ROOT/../config-list.json"; exit 1; }
    outsider() {
      setpriv --reuid=4343 --regid=4343 --clear-groups --inh-caps=-all --bounding-set=-all \
        --no-new-privs "$@" 2>/dev/null
    }
    # The web page, as its unit runs it (the service account, no
    # capabilities): a member fetches the dashboard with the token that
    # quillbox-config web-url prints; an outsider cannot read the token.
    QUILLBOX_ROOT=$QB_ROOT setpriv --reuid="$QB_UID" --regid="$QB_GID" --clear-groups \
      --inh-caps=-all --bounding-set=-all --no-new-privs sh -c "umask 0007; exec \"$QB_ROOT/usr/bin/quillbox-web\"" \
      2>"$QB_ROOT/../web.err" &
    web=$!
    trap '"'"'kill $service $web ${desktop:-} 2>/dev/null || true'"'"' EXIT
    tries=0
    until listening 37180; do
      tries=$((tries + 1))
      if [ $tries -gt 100 ] || ! kill -0 $web 2>/dev/null; then
        echo "quillbox-web does not listen on 37180:"; cat "$QB_ROOT/../web.err"; exit 1
      fi
      sleep 0.1
    done
    url=$(member web-url)
    case "$url" in http://127.0.0.1:37180/?token=*) ;; *) echo "web-url printed: $url"; exit 1;; esac
    jar="$QB_ROOT/../web.cookies"
    curl -sS -o /dev/null -c "$jar" "$url"
    curl -sS -b "$jar" -f http://127.0.0.1:37180/ | grep -q "csrf-token" ||
      { echo "the dashboard did not come with the token"; exit 1; }
    curl -sS -b "$jar" -f http://127.0.0.1:37180/api/state | grep -q "$QB_NAME" ||
      { echo "the dashboard does not list $QB_NAME"; exit 1; }
    [ "$(curl -s -o /dev/null -w "%{http_code}" http://127.0.0.1:37180/api/state)" = 401 ] ||
      { echo "the dashboard answered without a session"; exit 1; }
    if outsider cat "$QB_ROOT/run/quillbox/web-token" >/dev/null; then
      echo "an outsider could read the token of the web page"; exit 1
    fi
    kill -TERM $web
    wait $web || { echo "quillbox-web did not end cleanly:"; cat "$QB_ROOT/../web.err"; exit 1; }
    # Someone outside group quillbox can neither change the settings nor
    # tell the service to close through its window endpoint.
    if outsider sh -c "echo CONF=/tmp >>\"$QB_ROOT/var/lib/Tovira/Quillbox/quern.ini\""; then
      echo "an outsider could write quern.ini"; exit 1
    fi
    for endpoint in "$QB_ROOT"/run/quillbox/windows/[0-9]*; do
      if outsider python3 -c "import socket, struct, sys
socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).sendto(struct.pack(\"<IQq\", 16, 0, 0), sys.argv[1])" \
        "$endpoint"; then
        echo "an outsider could send to $endpoint"; exit 1
      fi
    done
    sleep 0.2
    kill -0 $service || { echo "the service ended after the outsider tried"; exit 1; }
    if [ -n "$QB_DESKTOP_BIN" ]; then
      # A user of group quillbox (usual umask) starts the desktop instance
      # next to the service: it must create its lock, endpoint and tray
      # state in /run/quillbox. Someone outside the group cannot.
      desktop_as() { # desktop_as UID GROUPS
        PATH="$QB_DESKTOP_BIN:$PATH" QUILLBOX_ROOT=$QB_ROOT exec setpriv --reuid="$1" --regid="$1" \
          $2 --inh-caps=-all --bounding-set=-all --no-new-privs \
          sh -c "umask 022; exec \"$QB_ROOT/usr/bin/quillbox\"" 2>"$QB_ROOT/../desktop.err"
      }
      desktop_as 4242 --groups="$QB_GID" &
      desktop=$!
      tries=0
      until grep -q "^Visible=1" "$QB_ROOT/run/quillbox/tray.ini" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 50 ] || ! kill -0 $desktop 2>/dev/null; then
          echo "the desktop instance did not start:"; cat "$QB_ROOT/../desktop.err"; exit 1
        fi
        sleep 0.1
      done
      kill -TERM $desktop
      wait $desktop
      code=0; (desktop_as 4343 --clear-groups) || code=$?
      [ $code = 4 ] || { echo "a user outside group quillbox got $code, not 4"; exit 1; }
    fi
    kill -TERM $service
    wait $service
  ' || { cat "$WORK/sendscan.out" 2>/dev/null; fail "running the installed receiver as the service ($1)"; }
  local scan
  scan=$(find "$ROOT$DEST" -name "$1*.tif")
  expect "$1 did not land in $DEST" test -n "$scan"
  [ "$(stat -c '%a %u' "$scan")" = "660 $uid" ] || fail "$scan is $(stat -c '%a %u' "$scan")"
  expect "the receive log does not name $1" grep -q "$1" "$ROOT$DATA/tvscanlog_f.bin"
  echo "received $(basename "$scan") as $uid, logged"
}
# What must survive: the scans, the receive log, the settings in use and
# the destination list.
user_data() { (cd "$ROOT" && sha256sum ."$DEST"/* ."$DATA"/tvscanlog_f.bin ."$DATA"/quern.ini ."$DATA"/tvscan_f.bin); }
expect_user_data_kept() {
  user_data | diff - "$WORK/user-data.sha256" || fail "user data changed after $1"
}

step "the installed service receives a scan; a desktop instance follows it"
# For the desktop instance the unit QBXSVC.service exists, enabled and running.
mkdir -p "$WORK/desktop-bin"
cat >"$WORK/desktop-bin/systemctl" <<'EOF'
#!/bin/sh
case "$1" in
  is-enabled) echo enabled;;
  is-active) echo active;;
esac
EOF
chmod 755 "$WORK/desktop-bin/systemctl"
receive_one_scan before-upgrade "$WORK/desktop-bin"
expect "the first start did not copy /etc/quern.ini into the data folder" \
  grep -q '^;FtpPort=21' "$ROOT$DATA/quern.ini"
expect_mode $DATA/quern.ini "660 $uid:$gid"

step "upgrade over itself with a changed /etc/quern.ini"
sed -i 's/^;List=100$/List=50/' "$ROOT/etc/quern.ini"
expect "could not change /etc/quern.ini" grep -q '^List=50$' "$ROOT/etc/quern.ini"
user_data >"$WORK/user-data.sha256"
pkg -i "$DEB"
expect "the upgrade replaced the changed /etc/quern.ini" grep -q '^List=50$' "$ROOT/etc/quern.ini"
expect "the upgrade left conffile copies" test -z "$(find "$ROOT/etc" -name 'quern.ini.dpkg-*')"
expect_user_data_kept upgrade
expect_mode $DATA "2775 $uid:$gid"
receive_one_scan after-upgrade
expect "the upgrade lost the first scan" test -n "$(find "$ROOT$DEST" -name 'before-upgrade*')"
user_data >"$WORK/user-data.sha256"

step "remove"
pkg -r quillbox
expect "remove left /usr/bin/quillbox" test ! -e "$ROOT/usr/bin/quillbox"
expect "remove took the changed /etc/quern.ini" grep -q '^List=50$' "$ROOT/etc/quern.ini"
expect_user_data_kept remove

step "purge"
pkg -P quillbox
expect "dpkg still knows the package" \
  sh -c "! dpkg-query --admindir='$ROOT/var/lib/dpkg' -W quillbox >/dev/null 2>&1"
for f in $(files_of_package); do expect "purge left $f" test ! -e "$ROOT$f"; done
expect "purge left /run/quillbox" test ! -e "$ROOT/run/quillbox"
expect "purge left unit links" test -z "$(find "$ROOT/etc/systemd" -type l 2>/dev/null)"
expect_user_data_kept purge
echo "kept after purge:"
user_data | sed 's/^[0-9a-f]*  /  /'

echo
echo "package test passed in $(elapsed "$start") after the build"
