#!/bin/sh
# The installed packages as other hosts meet them: this build and the kit of the other
# Qt installed into one temporary prefix, examples/ built against each kit with
# find_package and with pkg-config alone, the hosts run against "lustbus simulate" on
# loopback, and a host of the other Qt pointed at each kit.
#   install_test.sh BUILD_DIR SOURCE_DIR LIBDIR BUILD_TYPE CXX QT_MAJOR PROGRAM [FLAGS]
# FLAGS go to the example hosts' compiler and linker (the build's sanitizers). PROGRAM
# is the build's lustbus, the simulator when the build installs none. The other Qt's
# kit is built in BUILD_DIR/kit-qtN with this build's compiler and options, only its
# targets, and kept for the next run. Without the other Qt the test ends as skipped
# (77) once this build's kit has passed.
set -eu
build=$1 source=$2 libdir=$3 type=$4 cxx=$5 qt=$6 program=$7 flags=${8:-}
other=$((11 - qt))
peer=$build/kit-qt$other

work=$(mktemp -d)
simulator=
trap '{ [ -z "$simulator" ] || { kill "$simulator"; wait "$simulator"; }; } 2>/dev/null || true
    rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
kit() { if [ "$1" = 5 ]; then echo LustBus; else echo "LustBusQt$1"; fi; }
suffix() { [ "$1" = 5 ] || echo "-qt$1"; }
plugin() { echo "$prefix/$libdir/lustbus$(suffix "$1")/drivers/liblustbus_servo_cde.so"; }
# CMake wraps its messages: compare texts with every run of blanks as one space.
squeezed() { tr -s ' \n' '  '; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# The other Qt's kit, from the same sources and options; its absence is no failure.
build_peer() {
    qt6=OFF
    [ "$other" = 6 ] && qt6=ON
    cmake -S "$source" -B "$peer" -DLUSTBUS_QT6=$qt6 -DCMAKE_BUILD_TYPE="$type" \
        -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_COMPILER_LAUNCHER="$(cached CMAKE_CXX_COMPILER_LAUNCHER)" \
        -DLUSTBUS_SANITIZE="$(cached LUSTBUS_SANITIZE)" -DLUSTBUS_WERROR="$(cached LUSTBUS_WERROR)" \
        -DLUSTBUS_BUILD_TESTS=OFF -DLUSTBUS_BUILD_BENCH=OFF -DLUSTBUS_INSTALL_PROGRAM=OFF \
        >"$work/peer.log" 2>&1 || {
        grep -q -e "provided by \"Qt$other" -e "Failed to find required Qt component" "$work/peer.log" \
            && return 1
        cat "$work/peer.log" >&2
        fail "the Qt $other kit does not configure in $peer"
    }
    cmake --build "$peer" -j2 --target lustbus_host lustbus_servo_cde >"$work/peer.log" 2>&1 \
        || { cat "$work/peer.log" >&2; fail "the Qt $other kit does not build in $peer"; }
}
kits=$qt
if build_peer; then
    cmake --install "$peer" --prefix "$prefix" >/dev/null
    kits="$qt $other"
    # One prefix holds both: no file belongs to both installs.
    shared=$(sort "$build/install_manifest.txt" "$peer/install_manifest.txt" | uniq -d)
    [ -z "$shared" ] || fail "both Qt builds install $shared"
fi

# The program and its documents come from the build that installs them, Qt 5's unless
# asked otherwise; the other Qt's kit never brings them.
for file in bin/lustbus share/man/man1/lustbus.1 share/bash-completion/completions/lustbus \
        share/zsh/site-functions/_lustbus; do
    if [ "$(cached LUSTBUS_INSTALL_PROGRAM)" = ON ]; then
        [ -e "$prefix/$file" ] || fail "$file is not installed"
    else
        [ ! -e "$prefix/$file" ] || fail "$file is installed by a build that installs no program"
    fi
done
[ -x "$prefix/bin/lustbus" ] && program=$prefix/bin/lustbus

"$program" simulate --tcp 0 >"$work/simulator.out" 2>&1 &
simulator=$!
endpoint=
for _ in $(seq 100); do
    endpoint=$(sed -n 's/^listening on tcp //p' "$work/simulator.out")
    [ -n "$endpoint" ] && break
    sleep 0.1
done
[ -n "$endpoint" ] || fail "lustbus simulate did not start: $(cat "$work/simulator.out")"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"

# Every file of the kit for Qt $1 under its own name.
check_files() {
    s=$(suffix "$1") k=$(kit "$1")
    for file in "$libdir/liblustbus_host$s.so" "$libdir/liblustbus_host$s.so.1" \
            "$libdir/lustbus$s/drivers/liblustbus_servo_cde.so" \
            "$libdir/cmake/$k/${k}Config.cmake" "$libdir/cmake/$k/${k}ConfigVersion.cmake" \
            "$libdir/pkgconfig/lustbus$s.pc" include/lustbus"$s"/driverinterface.h \
            include/lustbus"$s"/lustbusversion.h include/lustbus"$s"/tcplink.h \
            include/lustbus"$s"/tools.h include/lustbus"$s"/tools/packer.h; do
        [ -e "$prefix/$file" ] || fail "$file is not installed"
    done
    # What a Release build installs carries no debug info.
    [ "$type" != Release ] \
        || for file in "$prefix/$libdir/liblustbus_host$s.so" "$(plugin "$1")"; do
        ! readelf -S "$file" | grep -q '\.debug_info' || fail "$file has debug info in a Release build"
    done
}

# examples/ against the kit for Qt $1 with find_package from the prefix alone (the build
# trees appear nowhere), and readone.cpp with pkg-config alone: no rpath of its own.
build_examples() {
    s=$(suffix "$1") out=$work/cmake$1
    cmake -S "$source/examples" -B "$out" -DEXAMPLES_QT_MAJOR="$1" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
        -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror $flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/configure.log" 2>&1 \
        || { cat "$work/configure.log" >&2; fail "examples/ do not configure for Qt $1 against $prefix"; }
    cmake --build "$out" >"$work/build.log" 2>&1 \
        || { cat "$work/build.log" >&2; fail "examples/ do not build for Qt $1 against $prefix"; }
    for file in "$out/compile_commands.json" "$out/CMakeFiles/readone.dir/link.txt"; do
        ! grep -q -e "$build" -e "$source/runtime" -e "$source/host" "$file" \
            || fail "$file names the build or source tree"
    done

    [ "$(pkg-config --variable=plugin "lustbus$s")" -ef "$(plugin "$1")" ] \
        || fail "pkg-config lustbus$s names another plugin"
    grep -q "^Description: .* for Qt $1 hosts (Qt $((11 - $1)) hosts: lustbus$(suffix $((11 - $1))))" \
        "$prefix/$libdir/pkgconfig/lustbus$s.pc" || fail "lustbus$s.pc does not say which Qt it is for"
    pkg-config --print-requires-private "lustbus$s" | grep -q "^Qt$1Sql" \
        || fail "lustbus$s.pc does not declare Qt Sql"
    # shellcheck disable=SC2046,SC2086
    "$cxx" -std=c++17 -Wall -Wextra -Werror $flags -o "$work/readone-pc$1" "$source/examples/readone.cpp" \
        -DLUSTBUS_PLUGIN="\"$(pkg-config --variable=plugin "lustbus$s")\"" \
        $(pkg-config --cflags --libs "lustbus$s") \
        || fail "readone.cpp does not build with pkg-config --cflags --libs lustbus$s"

    # Every installed header compiles with what pkg-config gives, none needs another file.
    (cd "$prefix/include/lustbus$s" && find . -name '*.h' | sort) \
        | sed 's|^\./\(.*\)|#include <\1>|' >"$work/headers.cpp"
    # shellcheck disable=SC2046
    "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror $(pkg-config --cflags "lustbus$s") \
        "$work/headers.cpp" || fail "the installed headers of lustbus$s do not compile on their own"
}

# The hosts for Qt $1 read from the simulator and show the driver and kit.
run_examples() {
    for host in "$work/cmake$1/readone" "$work/readone-pc$1"; do
        out=$("$host" "$endpoint" INT16:12 2>&1) || fail "$host failed: $out"
        [ "$out" = "INT16:12 = -1234" ] || fail "$host read '$out'"
    done
    out=$("$work/cmake$1/readone" "$endpoint" INT16:999 2>&1) \
        && fail "a parameter the servo lacks was read: $out"
    case $out in *"read INT16:999> invalid param no."*) ;; *) fail "readone INT16:999: $out" ;; esac

    info=$("$work/cmake$1/driverinfo") || fail "driverinfo for Qt $1 failed: $info"
    version=$("$program" --version)
    for line in "plugin:        $(plugin "$1")" "name:          LustBus ServoC/CDE Series" \
            "host kit:      ${version#lustbus }" 'port:          type: 64 string: "COM2"' \
            "CreateDriver:  LustBus ServoC/CDE Series"; do
        case $info in *"$line"*) ;; *) fail "driverinfo does not show '$line': $info" ;; esac
    done
}

# A host that has found the other Qt is told which kit to take, and the other Qt's
# plugin does not load into this Qt's host.
check_mismatch() {
    k=$(kit "$1") o=$((11 - $1))
    mkdir -p "$work/mismatch$1"
    printf 'cmake_minimum_required(VERSION 3.16)\nproject(host LANGUAGES CXX)\n%s\n%s\n' \
        "find_package(Qt$o REQUIRED COMPONENTS Core)" "find_package($k REQUIRED)" \
        >"$work/mismatch$1/CMakeLists.txt"
    out=$(cmake -S "$work/mismatch$1" -B "$work/mismatch$1/build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_COMPILER="$cxx" 2>&1) \
        && fail "a Qt $o host found $k"
    case $(echo "$out" | squeezed) in
        *"$k is the kit for Qt $1 hosts and this project uses Qt $o: for Qt $o use find_package($(kit $o))"*) ;;
        *) fail "a Qt $o host that finds $k is not told which kit to use: $out" ;;
    esac
    out=$("$work/cmake$1/driverinfo" "$(plugin $o)" 2>&1) && fail "a Qt $1 host loaded the Qt $o plugin"
    case $out in *"cannot load driver plugin"*) ;; *) fail "driverinfo with the Qt $o plugin: $out" ;; esac
}

for q in $kits; do
    check_files "$q"
    build_examples "$q"
    run_examples "$q"
done
[ "$kits" = "$qt" ] || for q in $kits; do check_mismatch "$q"; done

# The installed lustbus loads the installed plugin, and without it never the build tree's.
if [ "$program" = "$prefix/bin/lustbus" ]; then
    info=$("$program" info --json) || fail "lustbus info failed: $info"
    case $info in *"\"plugin\":\"$(plugin "$qt")\""*) ;; *) fail "lustbus info loads another plugin: $info" ;; esac
    rm "$(plugin "$qt")"
    info=$("$program" info --json 2>&1) && fail "lustbus info ran without its plugin: $info"
    case $info in *"$build"*) fail "lustbus info reached into the build tree: $info" ;; esac
fi
if [ "$kits" = "$qt" ]; then
    echo "install test: skipped the Qt $other kit beside this one and the mismatch messages," \
        "as Qt $other is not installed; the kit for Qt $qt passed"
    grep -m 3 -e "provided by \"Qt$other" -e "Failed to find required Qt component" "$work/peer.log"
    exit 77
fi
echo "install test: $prefix holds the kits for Qt $kits; both example hosts of each ran against $endpoint"
