#!/usr/bin/env bash
# Checks that a built tree makes a package that others can use: installs it to
# a temporary prefix, builds and runs examples/embed against the installed
# package (twice: the second run resyncs) and once more through
# add_subdirectory, builds a one-file consumer with pkg-config, and checks the
# SONAMEs, the installed agent and a configure without GoogleTest.
#   bash scripts/package-check.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(realpath "${1:-build}")
jobs=${JOBS:-$(nproc)}
work=$(mktemp -d)
export OLVANE_SHM_PREFIX=pkgcheck$$
trap 'rm -rf "$work"; rm -f /dev/shm/${OLVANE_SHM_PREFIX}*' EXIT
fail() {
    echo "package-check: $*" >&2
    exit 1
}
step() { echo "== $*"; }

prefix=$work/prefix
step "install to $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$prefix/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")

step "versioned SONAMEs"
for lib in "$libdir"/lib*.so; do
    soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [[ $soname =~ \.so\.[0-9]+$ ]] || fail "$lib: SONAME '$soname' has no version"
    echo "  $(basename "$lib"): $soname"
done

step "the installed agent finds the installed libraries"
OLVANE_SHM_PREFIX=${OLVANE_SHM_PREFIX}agent "$prefix/bin/natagent" --device 1 init --capacity 1024 \
    >/dev/null
OLVANE_SHM_PREFIX=${OLVANE_SHM_PREFIX}agent "$prefix/bin/natagent" --device 1 stats >/dev/null

run_twice() {
    "$1" | sed 's/^/  /'
    "$1" | sed 's/^/  /'
}
step "examples/embed with find_package"
cmake -S examples/embed -B "$work/embed" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/embed" -j "$jobs" >/dev/null
run_twice "$work/embed/embed_agent"

step "a one-file consumer with pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
c++ examples/pkg-config/consumer.cpp $(pkg-config --cflags --libs BfTwiceNatAddrPort) \
    -Wl,-rpath,"$(pkg-config --variable=libdir BfTwiceNatAddrPort)" -o "$work/consumer"
"$work/consumer" | sed 's/^/  /'

step "configure without GoogleTest"
cmake -S . -B "$work/no-tests" -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON --no-warn-unused-cli >/dev/null

# Unoptimised, to keep this step short: it builds the libraries once more.
step "examples/embed with add_subdirectory"
cmake -S examples/embed -B "$work/embed-sub" -DBF_TWICE_NAT_ADDR_PORT_SOURCE_DIR="$source_dir" \
    >/dev/null
cmake --build "$work/embed-sub" -j "$jobs" >/dev/null
run_twice "$work/embed-sub/embed_agent"
echo "package-check: all good"
