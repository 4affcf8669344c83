#!/bin/sh
# The main job: installs what is missing, builds Release with Qt 5, installs into build/install
# and runs the installed lustbus demo (the built-in simulated servo, traced).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build/qt5 -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --install build/qt5 --prefix build/install >/dev/null
build/install/bin/lustbus demo
