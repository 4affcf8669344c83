#!/bin/sh
# The main job: installs what is missing, builds with Qt 5 and runs the demo.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build/qt5 >/dev/null
build/qt5/examples/driverinfo
