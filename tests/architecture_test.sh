#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks with file(1) that every ELF file a build made, programs, modules
# and objects, is for the Debian architecture the build is for: a cross
# build that picked up a host compiler or library anywhere shows here.
#
# Usage: tests/architecture_test.sh BUILD_DIR DEBIAN_ARCH
set -euo pipefail
build=$1 arch=$2
case $arch in
  amd64) wanted='ELF 64-bit LSB .*, x86-64,' ;;
  i386) wanted='ELF 32-bit LSB .*, Intel (80386|i386),' ;;
  arm64) wanted='ELF 64-bit LSB .*, ARM aarch64,' ;;
  armhf) wanted='ELF 32-bit LSB .*, ARM, EABI5 ' ;;
  s390x) wanted='ELF 64-bit MSB .*, IBM S/390,' ;;
  *)
    echo "architecture_test: what file(1) says of $arch is not known here" >&2
    exit 1
    ;;
esac
elf=$(find "$build" -path "$build/sysroot" -prune -o -type f -print0 | xargs -0 file -N -F '|' | grep '| ELF ' || true)
[ -n "$elf" ] || {
  echo "architecture_test: no ELF file in $build" >&2
  exit 1
}
others=$(grep -Ev "\| $wanted" <<<"$elf" || true)
if [ -n "$others" ]; then
  echo "architecture_test: $(wc -l <<<"$others") ELF files in $build are not for $arch, among them:" >&2
  head -n 5 <<<"$others" >&2
  exit 1
fi
echo "architecture_test: all $(wc -l <<<"$elf") ELF files in $build are for $arch"
