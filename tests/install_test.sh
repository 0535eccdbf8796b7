#!/bin/sh
# install: checks the manual pages with groff, installs with cmake --install
#   and runs the installed programs on a sample row.
# hardening: reads the built programs, and their own code before it is linked,
#   for each protection the build asks for.
# (The Debian package is built, checked and tested by Debian's own tools:
# .ci/debian.)
# Usage: install_test.sh install|hardening SOURCE_DIR BUILD_DIR
# A missing tool fails the check, naming its package.
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
    # Fortified where the optimizer runs: the last -O of its compile command
    # is not -O0 (Debian's noopt, a Debug build).
    optimized=$(grep -o "\"command\": \"[^\"]*$program\\.cpp\\.o -c[^\"]*" "$build/compile_commands.json" |
      grep -o ' -O[0-9sgz]*' | tail -n 1)
    if [ "$optimized" = " -O0" ] || [ -z "$optimized" ]; then
      unoptimized="; fortified calls not looked for: built without the optimizer"
    elif [ "$program" = spindra2 ]; then
      nm "$object" | grep -Eq ' U __[a-z_]+_chk$' || fail "its calls are not fortified (_FORTIFY_SOURCE)"
    fi
    # On x86-64: every function begins where an indirect branch may land
    # (endbr64, control-flow protection), and a frame of a page or more is
    # allocated a page at a time, each probed (stack-clash protection): where
    # some function takes that much stack at all, which depends on the
    # compiler and the build (g++'s release build does; clang's and the
    # sanitized one do not). A page or more: 0x1000 up, not a negative
    # number, which adds to the stack pointer (-O0's sub $0xff...80).
    if [ "$(uname -m)" = x86_64 ]; then
      objdump -d "$object" | grep -q endbr64 || fail "no control-flow protection (endbr64)"
      if objdump -d "$object" | grep -Eq 'sub +\$0x[1-9a-f][0-9a-f]{3,6},%rsp'; then
        objdump -d "$object" | grep -Eq 'or[q]? +\$0x0,(0x[0-9a-f]+)?\(%rsp\)' || fail "a page of stack taken unprobed"
      fi
    fi
  done
  echo "hardening: RELRO, BIND_NOW, PIE, stack protector$([ -n "${unoptimized:-}" ] || echo ", fortified calls")$([ "$(uname -m)" != x86_64 ] || echo ", endbr64, stack-clash probes"): all there${unoptimized:-}"
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
echo "manual pages and install tree: fine"
