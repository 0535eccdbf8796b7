#!/bin/sh
# Runs README.md's two commands for a bare machine, as README.md gives them,
# each on a bare Debian root file system of its own made by debootstrap
# (variant minbase), in a clean clone of this repository's HEAD, as root.
# Not run by CTest: it needs root, debootstrap and Debian's package mirror,
# and takes some minutes.
# Usage: tests/fresh-machine.sh [RELEASE [MIRROR]]
#   RELEASE: bookworm (Debian 12, the default) or trixie (Debian 13)
#   MIRROR: http://deb.debian.org/debian by default
set -eu
release=${1:-bookworm}
mirror=${2:-http://deb.debian.org/debian}
top=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" = 0 ] || { echo "fresh-machine.sh: run as root (debootstrap and chroot need it)"; exit 1; }
command -v debootstrap >/dev/null || { echo "fresh-machine.sh: debootstrap is missing: install the package debootstrap"; exit 1; }

# The commands: the indented lines of README.md that begin with apt-get update.
commands=$(grep '^    apt-get update' "$top/README.md" | sed 's/^    //')
[ "$(printf '%s\n' "$commands" | wc -l)" = 2 ] || { echo "fresh-machine.sh: README.md must give two such commands"; exit 1; }

work=$(mktemp -d /tmp/spindra-fresh-XXXXXX)
# Unmounts whatever is still mounted under the work folder before removing it,
# and never crosses into another file system while removing.
cleanup() {
  for root in "$work"/root*; do
    umount "$root/proc" 2>/dev/null || true
    umount "$root/dev" 2>/dev/null || true
  done
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

echo "== debootstrap --variant=minbase $release"
debootstrap --variant=minbase "$release" "$work/base" "$mirror" > "$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log"; exit 1; }

for i in 1 2; do
  command=$(printf '%s\n' "$commands" | sed -n "${i}p")
  root=$work/root$i
  cp -a "$work/base" "$root"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  git clone -q "$top" "$root/spindra"
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  echo
  echo "== command $i, in a clean clone on the bare root file system:"
  echo "$command"
  start=$(date +%s)
  if chroot "$root" /bin/sh -c "cd /spindra && $command" > "$work/out$i.log" 2>&1; then
    echo "-- exit status 0 after $(($(date +%s) - start)) s; what configuring said of GoogleTest, and the last lines:"
    grep -h "GoogleTest" "$work/out$i.log" || true
    tail -n 8 "$work/out$i.log"
    echo
  else
    echo "-- FAILED with exit status $?; the last lines:"
    tail -n 40 "$work/out$i.log"
    exit 1
  fi
  umount "$root/proc" "$root/dev"
done
