#!/bin/sh
# What the browser test needs: Debian's chromium, Node.js (Debian's, when
# no node is installed yet) and playwright-core from npm, pinned by
# tests/browser/package-lock.json to a version that runs on Debian 12's
# Node.js 18 and drives its chromium. playwright-core downloads no browser:
# the test drives /usr/bin/chromium.
set -eu
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
missing=""
dpkg-query -W -f='${Status}' chromium 2>/dev/null | grep -q "install ok installed" || missing="chromium"
command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || missing="$missing nodejs npm"
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
if [ ! -d tests/browser/node_modules/playwright-core ]; then
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
fi
