#!/usr/bin/env bash
# package.sh [--check]: builds the plain tree and packs it into a Debian package
# (build/packages/ordella-counter-gateway_<version>_<arch>.deb). With --check, the package is
# then unpacked into a fresh root and looked at: the layout, the commands answering --version
# from their installed place, and the user units verified by systemd-analyze (where the machine
# has it; a machine without systemd running cannot start user units, so they are verified only).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh plain
rm -rf build/packages
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/packages/*.deb)
echo "package: $deb"
[ "${1:-}" = "--check" ] || exit 0

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
fail() { echo "package check: $*" >&2; exit 1; }
for path in usr/lib/ordella/bin/Ordella_VanExcute usr/lib/ordella/bin/helvar \
            usr/lib/ordella/lib/libOrdella_Hub.so usr/lib/ordella/lib/libOrdella_Retalo.so \
            usr/lib/systemd/user/ordella-helvar.service usr/lib/systemd/user/ordella-host.service \
            usr/share/doc/ordella-counter-gateway/README.md; do
  [ -e "$root/$path" ] || fail "$path missing"
done
# Installed programs find their libraries through their RUNPATH, not the build tree.
for command in ordella-status ordella_journal; do
  env -u LD_LIBRARY_PATH "$root/usr/bin/$command" --version >/dev/null || fail "$command --version"
done
# Outputs are read whole before they are searched: under pipefail, a `grep -q` that stops at
# its first match can make the writer die of SIGPIPE and the pipeline fail.
libraries=$(ldd "$root/usr/lib/ordella/lib/libOrdella_Hub.so")
[[ $libraries != *"not found"* ]] || fail "libOrdella_Hub.so has unresolved libraries"
[ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "no Depends field"
# The units, verified by systemd with their paths moved into the unpacked root, so that a unit
# naming a program the package does not hold fails.
if command -v systemd-analyze >/dev/null; then
  units="$root/unit-check"
  mkdir -p "$units"
  for unit in ordella-helvar.service ordella-host.service; do
    sed "s|=/usr/|=$root/usr/|" "$root/usr/lib/systemd/user/$unit" >"$units/$unit"
  done
  SYSTEMD_LOG_LEVEL=warning systemd-analyze verify "$units/ordella-helvar.service" \
    "$units/ordella-host.service" || fail "systemd-analyze verify"
fi
echo "package check: passed"
