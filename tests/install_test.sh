#!/bin/sh
# install: checks the manual pages with groff, installs with cmake --install
#   and from the Debian package, and runs the installed programs on a sample row.
# lintian: checks the Debian package with lintian, which must report nothing,
#   not even an informational tag (lintian -I) for the static programs.
# reproducible: builds and packages the source twice, in two copies of it at
#   different paths and times, as the README says, and compares the packages.
# hardening: reads the built programs, and their own code before it is linked,
#   for each protection the build asks for.
# Usage: install_test.sh install|lintian|reproducible|hardening SOURCE_DIR BUILD_DIR
# A missing tool fails the install check, naming its package; lintian, an
# optional extra on a developer's machine, is skipped (status 77) when missing.
set -eu
mode=$1
src=$2
build=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# need TOOL PACKAGE [STATUS]: ends the check when TOOL is not installed.
need() {
  command -v "$1" >/dev/null && return 0
  echo "$1 is missing: install the package $2"
  exit "${3:-1}"
}

need cpack cmake
need dpkg-deb dpkg
if [ "$mode" = lintian ]; then
  need lintian lintian 77
  (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > /dev/null)
  # lintian reports on standard output; on standard error it only warns that it runs as root.
  # The static programs, as they ship, must give not even an informational
  # tag; a dynamic build (the sanitizers') gets hardening notes, which its
  # flags are not meant to heed.
  informational=
  ! grep -q '^SPINDRA_STATIC:BOOL=ON' "$build/CMakeCache.txt" || informational=-I
  report=$(lintian $informational "$work"/*.deb)
  [ -z "$report" ] || { echo "lintian on the package:"; echo "$report"; exit 1; }
  echo "lintian: nothing to report on $(basename "$work"/*.deb)"
  exit 0
fi

if [ "$mode" = hardening ]; then
  need readelf binutils
  need objdump binutils
  need nm binutils
  # fail WHAT: the protection that the program lacks.
  fail() {
    echo "$program: $1"
    exit 1
  }
  for program in spindra spindra2; do
    binary=$build/$program
    object=$build/CMakeFiles/$program.dir/$program.cpp.o
    [ -f "$binary" ] && [ -f "$object" ] || fail "not built"
    # Linked: relocations read-only once resolved (RELRO), all of them at
    # start (BIND_NOW), and position-independent where the build could link
    # so (static-pie, or dynamically).
    readelf -l "$binary" | grep -q GNU_RELRO || fail "no RELRO segment"
    readelf -d "$binary" | grep -Eq 'FLAGS.*(BIND_NOW| NOW)' || fail "relocations not bound at start (no BIND_NOW)"
    if ! grep -q '^SPINDRA_STATIC:BOOL=ON' "$build/CMakeCache.txt" ||
      grep -q '^SPINDRA_STATIC_PIE_LINKS:INTERNAL=1' "$build/CMakeCache.txt"; then
      readelf -h "$binary" | grep -q 'Type: *DYN' || fail "not position-independent"
    fi
    # The program's own code, before the C library is linked in beside it:
    # its stack guarded (calls of __stack_chk_fail), and the library's calls
    # checked where sizes are known (spindra2's snprintf becomes
    # __snprintf_chk; spindra has no such call to check).
    nm "$object" | grep -q ' U __stack_chk_fail' || fail "its code has no stack protector"
    [ "$program" = spindra ] || nm "$object" | grep -Eq ' U __[a-z_]+_chk$' ||
      fail "its calls are not fortified (_FORTIFY_SOURCE)"
    # On x86-64: every function begins where an indirect branch may land
    # (endbr64, control-flow protection), and a frame of a page or more is
    # allocated a page at a time, each probed (stack-clash protection): where
    # some function takes that much stack at all, which depends on the
    # compiler and the build (g++'s release build does; clang's and the
    # sanitized one do not).
    if [ "$(uname -m)" = x86_64 ]; then
      objdump -d "$object" | grep -q endbr64 || fail "no control-flow protection (endbr64)"
      if objdump -d "$object" | grep -Eq 'sub +\$0x[1-9a-f][0-9a-f]{3,},%rsp'; then
        objdump -d "$object" | grep -Eq 'or[q]? +\$0x0,(0x[0-9a-f]+)?\(%rsp\)' || fail "a page of stack taken unprobed"
      fi
    fi
  done
  echo "hardening: RELRO, BIND_NOW, PIE, stack protector, fortified calls$([ "$(uname -m)" != x86_64 ] || echo ", endbr64, stack-clash probes"): all there"
  exit 0
fi

if [ "$mode" = reproducible ]; then
  # copy DIR: the source in DIR: a clone of its commit with the tree as it stands on top, or a plain copy.
  copy() {
    if git -C "$src" rev-parse --git-dir >/dev/null 2>&1; then
      git clone -q "$src" "$1"
      (cd "$src" && git ls-files -z | tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -C "$1" -xf -
    else
      mkdir "$1"
      (cd "$src" && tar --exclude='./build*' -cf - .) | tar -C "$1" -xf -
    fi
  }
  for copy in first second; do
    copy "$work/$copy"
    cmake -S "$work/$copy" -B "$work/$copy/build" -DBUILD_TESTING=OFF > "$work/$copy.log" 2>&1 &&
      cmake --build "$work/$copy/build" -j 2 >> "$work/$copy.log" 2>&1 &&
      (cd "$work/$copy/build" && umask 022 && env -u SOURCE_DATE_EPOCH cpack -G DEB >> "$work/$copy.log" 2>&1) ||
      { tail -n 20 "$work/$copy.log"; exit 1; }
    sleep 1  # the second package is made at another second
  done
  cmp "$work"/first/build/*.deb "$work"/second/build/*.deb ||
    { echo "two packagings of the same source differ"; exit 1; }
  echo "two packagings of the same source, at different paths and times: the same bytes"
  exit 0
fi

need groff groff-base
for page in "$src"/man/spindra.1 "$src"/man/spindra2.1; do
  warnings=$(groff -ww -man -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done

# check DIR: the programs installed in DIR/bin, their pages and documents.
check() {
  for file in bin/spindra bin/spindra2 share/man/man1/spindra.1.gz share/man/man1/spindra2.1.gz \
              share/doc/spindra/copyright share/doc/spindra/changelog.gz; do
    [ -f "$1/$file" ] || { echo "$1 lacks $file"; exit 1; }
  done
  out=$("$1/bin/spindra2" < "$src"/examples/1001.txt)
  [ "$out" = "$(printf '0 1 4 4\n1 1 4 4\n2 1 4 4\n0 2 4 4\n1 2 4 4\n3')" ] || { echo "$1/bin/spindra2 wrote: $out"; exit 1; }
  out=$("$1/bin/spindra" < "$src"/examples/1001.txt)
  [ "$out" = "-1" ] || { echo "$1/bin/spindra wrote: $out"; exit 1; }
}

cmake --install "$build" --prefix "$work/prefix" > /dev/null
check "$work/prefix"
# The lintian override is the package's alone.
[ ! -e "$work/prefix/share/lintian" ] || { echo "cmake --install put a lintian override under the prefix"; exit 1; }
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > /dev/null)
dpkg-deb -x "$work"/*.deb "$work/root"
check "$work/root/usr"
# Static programs: the package says why, in its lintian override.
if grep -q '^SPINDRA_STATIC:BOOL=ON' "$build/CMakeCache.txt"; then
  [ -f "$work/root/usr/share/lintian/overrides/spindra" ] || { echo "the package lacks its lintian override"; exit 1; }
fi
echo "manual pages, install tree and package: fine ($(basename "$work"/*.deb))"
