#!/bin/sh
# Installs the Debian 12 packages that build and test the driver (as root); man-db and
# zsh render the man page and complete with the completion that the build makes.
set -eu
packages="cmake g++ make pkg-config
  qtbase5-dev libqt5serialport5-dev libqt5sql5-sqlite
  qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite
  libgtest-dev libgmock-dev libbenchmark-dev
  man-db zsh openssl
  libmosquitto-dev mosquitto mosquitto-clients
  ${EXTRA_PACKAGES:-}"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
