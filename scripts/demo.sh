#!/usr/bin/env bash
# The main job on the embedded defaults: sets up, builds, lays out a fresh demo prefix (registry,
# hub settings, the embedded pharmacy database) and runs the host program with the hub against a
# simulated card terminal on COM1 and Helvar over the embedded pharmacy database, printing what
# each side sees.
#
#   scripts/demo.sh            (prefix: build/demo-prefix, laid anew each run)
#   ORDELLA_PREFIX=/some/dir scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh
scripts/build.sh plain

bin=$root/build/bin
export ORDELLA_PREFIX=${ORDELLA_PREFIX:-$root/build/demo-prefix}
export ORDELLA_BIN_PATH=$bin
rm -rf "$ORDELLA_PREFIX"
mkdir -p "$ORDELLA_PREFIX/drive_c/tavenor"

# The install and log directory, as the installer records it.
cat > "$ORDELLA_PREFIX/registry.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Tavenor]
"edicode_index"=dword:00000001

[HKEY_CURRENT_USER\Software\Tavenor\Update]
"path"="c:\\tavenor"
REG

# The hub's settings: one serial terminal on COM1, listeners off.
cat > "$ORDELLA_PREFIX/drive_c/tavenor/ordella_connmap.ini" <<'INI'
# Demo pharmacy
server_address = 127.0.0.1
server_port = 9100
terminal_count = 1
terminal0_port = 1
terminal0_id = DEMO0001
trade_name = Demo Pharmacy
business_number = 1234567890
pharmacy_code = 000001
program_index = 1
INI

# The pharmacy program's settings file names its database server.
mkdir -p "$ORDELLA_PREFIX/drive_c/PM2000V6"
printf '[DATAPATH]\r\nPATH=PHARMSRV\r\n' > "$ORDELLA_PREFIX/drive_c/PM2000V6/PM2000V6.INI"

echo "== pharmacy database (embedded) =="
"$bin/ordella_load_fixture"

work=$(mktemp -d)
cleanup() {
  exec 3>&- 4>&- 2>/dev/null || true
  [ -n "${host_pid:-}" ] && kill "$host_pid" 2>/dev/null || true
  [ -n "${term_pid:-}" ] && kill "$term_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/term.in" "$work/host.in"

echo "== card terminal on COM1 =="
"$bin/terminal_sim" --com 1 < "$work/term.in" > "$work/term.out" 2>&1 &
term_pid=$!
exec 3> "$work/term.in"
for _ in $(seq 50); do grep -q '^ready' "$work/term.out" && break; sleep 0.1; done

echo "== host program with the hub =="
"$bin/Ordella_VanExcute" < "$work/host.in" > "$work/host.out" 2>&1 &
host_pid=$!
exec 4> "$work/host.in"

step() { echo "-- $1"; sleep "$2"; }
step "the terminal stays silent: the hub greets it (841) after 2.5 s" 4
echo "send 843 0" >&4
step "the operator sends 843 to terminal 0" 1
echo "busy" >&3
step "the terminal answers BUSY: the hub sends its last frame again" 1
echo "send 840 0" >&4
step "the operator sends 840 to terminal 0" 1
echo "send 820" >&3
step "the terminal asks for today's prescriptions (820): the hub starts Helvar, which answers 821" 5
echo "send 837" >&3
step "the terminal asks for its barcode database (837): Helvar builds it and answers 817" 3
echo "send 001 BDB" >&3
step "the terminal asks for the next chunk (BDB): the hub sends chunk 01" 2
echo "send 818" >&3
step "the terminal ends the transfer (818)" 1
echo "quit" >&4
for _ in $(seq 100); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
echo "quit" >&3

echo "== what the terminal received =="
cat "$work/term.out"
echo "== what the host printed =="
cat "$work/host.out"
echo "== Helvar's log =="
cat "$ORDELLA_PREFIX"/drive_c/tavenor/Log/*.log 2>/dev/null | tail -n 20 || true
