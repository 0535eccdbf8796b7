#!/bin/sh
# Checks the manual pages with groff, installs with cmake --install and from
# the Debian package, and runs the installed spindra2 on a sample row.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected=$(printf '0 1 4 4\n1 1 4 4\n2 1 4 4\n0 2 4 4\n1 2 4 4\n3')

for page in "$src"/man/spindra.1 "$src"/man/spindra2.1; do
  warnings=$(groff -ww -man -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done

# The output of "$1" on the sample row must be the expected trace and result.
check() {
  out=$("$1" < "$src"/examples/1001.txt)
  [ "$out" = "$expected" ] || { echo "$1 wrote: $out"; exit 1; }
}

cmake --install "$build" --prefix "$work/prefix" > /dev/null
for file in bin/spindra bin/spindra2 share/man/man1/spindra.1 share/man/man1/spindra2.1; do
  [ -f "$work/prefix/$file" ] || { echo "cmake --install left out $file"; exit 1; }
done
check "$work/prefix/bin/spindra2"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > /dev/null)
deb=$(ls "$work"/*.deb)
dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/spindra usr/bin/spindra2 usr/share/man/man1/spindra.1 usr/share/man/man1/spindra2.1; do
  [ -f "$work/root/$file" ] || { echo "the package left out $file"; exit 1; }
done
check "$work/root/usr/bin/spindra2"
[ "$("$work/root/usr/bin/spindra" < "$src"/examples/1001.txt)" = "-1" ] || { echo "installed spindra is wrong"; exit 1; }
echo "manual pages, install tree and package: fine ($(basename "$deb"))"
