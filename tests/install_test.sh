#!/bin/sh
# The installed package as another host meets it: the build installed into a temporary
# prefix, examples/ built against that prefix alone with find_package and with
# pkg-config, the hosts run against the installed "lustbus simulate" on loopback.
#   install_test.sh BUILD_DIR SOURCE_DIR LIBDIR BUILD_TYPE CXX [FLAGS]
# FLAGS go to the example hosts' compiler and linker (the build's sanitizers).
set -eu
build=$1 source=$2 libdir=$3 type=$4 cxx=$5 flags=${6:-}

work=$(mktemp -d)
simulator=
trap '{ [ -z "$simulator" ] || { kill "$simulator"; wait "$simulator"; }; } 2>/dev/null || true
    rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

plugin=$prefix/$libdir/lustbus/drivers/liblustbus_servo_cde.so
for file in bin/lustbus "$libdir/liblustbus_host.so" "$libdir/lustbus/drivers/liblustbus_servo_cde.so" \
        "$libdir/cmake/LustBus/LustBusConfig.cmake" \
        "$libdir/cmake/LustBus/LustBusConfigVersion.cmake" "$libdir/pkgconfig/lustbus.pc" \
        include/lustbus/driverinterface.h include/lustbus/lustbusversion.h \
        include/lustbus/tcplink.h include/lustbus/tools.h include/lustbus/tools/packer.h \
        share/man/man1/lustbus.1 share/bash-completion/completions/lustbus \
        share/zsh/site-functions/_lustbus; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
done

# What a Release build installs carries no debug info.
[ "$type" != Release ] \
    || for file in "$prefix/bin/lustbus" "$prefix/$libdir/liblustbus_host.so" "$plugin"; do
    ! readelf -S "$file" | grep -q '\.debug_info' || fail "$file has debug info in a Release build"
done

# find_package(LustBus) from the prefix alone; the build tree appears nowhere.
cmake -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror $flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/configure.log" 2>&1 \
    || { cat "$work/configure.log" >&2; fail "examples/ do not configure against $prefix"; }
cmake --build "$work/cmake" >"$work/build.log" 2>&1 \
    || { cat "$work/build.log" >&2; fail "examples/ do not build against $prefix"; }
for file in "$work/cmake/compile_commands.json" "$work/cmake/CMakeFiles/readone.dir/link.txt"; do
    ! grep -q -e "$build" -e "$source/runtime" -e "$source/host" "$file" \
        || fail "$file names the build or source tree"
done

# pkg-config lustbus, with the plugin's path from its variable.
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --variable=plugin lustbus)" -ef "$plugin" ] || fail "pkg-config names another plugin"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++17 -Wall -Wextra -Werror $flags -o "$work/readone-pc" "$source/examples/readone.cpp" \
    -DLUSTBUS_PLUGIN="\"$(pkg-config --variable=plugin lustbus)\"" \
    $(pkg-config --cflags --libs lustbus) -Wl,-rpath,"$prefix/$libdir" \
    || fail "readone.cpp does not build with pkg-config --cflags --libs lustbus"

# Every installed header compiles with what pkg-config gives, none needs another file.
(cd "$prefix/include/lustbus" && find . -name '*.h' | sort) | sed 's|^\./\(.*\)|#include <\1>|' \
    >"$work/headers.cpp"
# shellcheck disable=SC2046
"$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror $(pkg-config --cflags lustbus) \
    "$work/headers.cpp" || fail "the installed headers do not compile on their own"

"$prefix/bin/lustbus" simulate --tcp 0 >"$work/simulator.out" 2>&1 &
simulator=$!
endpoint=
for _ in $(seq 100); do
    endpoint=$(sed -n 's/^listening on tcp //p' "$work/simulator.out")
    [ -n "$endpoint" ] && break
    sleep 0.1
done
[ -n "$endpoint" ] || fail "lustbus simulate did not start: $(cat "$work/simulator.out")"

for host in "$work/cmake/readone" "$work/readone-pc"; do
    out=$("$host" "$endpoint" INT16:12) || fail "$host failed: $out"
    [ "$out" = "INT16:12 = -1234" ] || fail "$host read '$out'"
done
out=$("$work/cmake/readone" "$endpoint" INT16:999 2>&1) && fail "a parameter the servo lacks was read: $out"
case $out in *"read INT16:999> invalid param no."*) ;; *) fail "readone INT16:999: $out" ;; esac

info=$("$work/cmake/driverinfo") || fail "driverinfo failed: $info"
version=$("$prefix/bin/lustbus" --version)
for line in "name:          LustBus ServoC/CDE Series" "host kit:      ${version#lustbus }" \
        'port:          type: 64 string: "COM2"'; do
    case $info in *"$line"*) ;; *) fail "driverinfo does not show '$line': $info" ;; esac
done
# The installed lustbus loads the installed plugin, and without it never the build tree's.
info=$("$prefix/bin/lustbus" info --json) || fail "lustbus info failed: $info"
case $info in *"\"plugin\":\"$plugin\""*) ;; *) fail "lustbus info loads another plugin: $info" ;; esac
rm "$plugin"
info=$("$prefix/bin/lustbus" info --json 2>&1) && fail "lustbus info ran without its plugin: $info"
case $info in *"$build"*) fail "lustbus info reached into the build tree: $info" ;; esac
echo "install test: $prefix built and ran both example hosts against $endpoint"
