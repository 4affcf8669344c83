#!/bin/sh
# Installs the Debian 12 packages that build and test the driver (as root); man-db and
# zsh render the man page and complete with the completion that the build makes;
# chromium, its driver and selenium run the page of lustbus web in the tests;
# protobuf encodes the bridge's Sparkplug B payloads; Jinja renders the templates of its
# Home Assistant configs in the tests, as Home Assistant does; strace and time count the
# system calls and wake-ups of an exchange in bench/lean.
set -eu
cd "$(dirname "$0")/.."
packages="cmake g++ make pkg-config
  qtbase5-dev libqt5serialport5-dev libqt5sql5-sqlite
  qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite
  libgtest-dev libgmock-dev libbenchmark-dev
  man-db zsh openssl
  libmosquitto-dev mosquitto mosquitto-clients
  libcpp-httplib-dev libssl-dev chromium chromium-driver python3-selenium
  protobuf-compiler libprotobuf-dev python3-jinja2
  strace time
  ${EXTRA_PACKAGES:-}"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# npm comes with the nodejs package; Debian's separate npm package is not wanted beside it.
command -v npm >/dev/null 2>&1 || missing="$missing nodejs"
if [ -n "$missing" ]; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
# The page's charting library, from the npm registry at the version the lock file names;
# the build puts it into the program's resources.
if [ ! -f web/page/node_modules/uplot/dist/uPlot.iife.min.js ]; then
    echo "installing the page's npm packages"
    npm ci --prefix web/page --no-audit --no-fund >/dev/null
fi
# The Sparkplug B decoder the bridge's tests check its payloads with.
if [ ! -d tests/sparkplug/node_modules/sparkplug-payload ]; then
    echo "installing the Sparkplug tests' npm packages"
    npm ci --prefix tests/sparkplug --no-audit --no-fund >/dev/null
fi
