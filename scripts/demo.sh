#!/usr/bin/env bash
# The main job on the embedded defaults: sets up, builds, lays out a fresh demo prefix (registry,
# hub settings, the embedded pharmacy database) and plays a counter day with every peer simulated:
# the gateway server (with its VAN approval and cash-receipt services), a card terminal on COM1,
# the pharmacy program's POS client, and Helvar over the embedded pharmacy database. Each step
# says what happens, then shows what the terminal, the host and the POS client saw.
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

# Card data as the POS side reads it: track 2.
track="9410123456785678=25121011234567890123"

work=$(mktemp -d)
cleanup() {
  exec 3>&- 4>&- 5>&- 2>/dev/null || true
  for pid in ${host_pid:-} ${term_pid:-} ${server_pid:-}; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/term.in" "$work/host.in" "$work/server.in" "$work/server2.in"
touch "$work/term.out" "$work/host.out" "$work/server.out" "$work/server2.out"

# ---- Watching the programs' output ----
# Each side's output is shown once, from where the last step left it.
declare -A shown=([term]=0 [host]=0 [server]=0 [server2]=0)

# Waits (at most `seconds`) until a line matching `pattern` appears in `side`'s output after what
# was already shown; says so when it does not.
wait_for() {
  local side=$1 pattern=$2 seconds=${3:-10}
  for _ in $(seq $((seconds * 10))); do
    # grep reads everything (no -q): under pipefail, a tail cut off by an early exit fails.
    tail -n +$((shown[$side] + 1)) "$work/$side.out" | grep -- "$pattern" >/dev/null && return 0
    sleep 0.1
  done
  echo "   (no \"$pattern\" from the $side within $seconds s)"
}

# Prints what `side` printed since it was last shown, each line marked with `label`.
show() {
  local side=$1 label=$2 total
  total=$(wc -l < "$work/$side.out")
  tail -n +$((shown[$side] + 1)) "$work/$side.out" | head -n $((total - shown[$side])) |
    shorten | sed "s/^/   $label /"
  shown[$side]=$total
}

# Long lines (raw frames in hexadecimal or escaped bytes) are cut: the paper below a print shows
# what it says, and the run's files keep everything.
shorten() { cut -c 1-150 | sed -E 's/^(.{149}).$/\1 .../'; }

show_all() {
  show term "terminal>"
  show host "host    >"
}

step() { echo; echo "-- $*" | fold -s -w 96 | sed '2,$s/^/   /'; }

# A free TCP port on this machine, for the hub's POS listener.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# A field's bytes as hexadecimal, for the terminal's sendhex.
hex_of() {
  if [ -z "$1" ]; then printf '""'; else printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; fi
}

# A barcode as the terminal packs it: two digits to a byte, filled with 0xFF in front.
packed_barcode() { printf '%s%s' "$(printf 'F%.0s' $(seq $((30 - ${#1}))))" "$1"; }

# The rows of `sql` in the embedded pharmacy database `name` (PM_PRES, PM_BASE, PM_DRUG).
pharmacy() {
  sqlite3 -readonly "$ORDELLA_PREFIX/drive_c/tavenor/pmdb/$1.db" "$2" 2>/dev/null || echo "(busy)"
}

# The counter sale's message fields 1-20 in hexadecimal: no prescription; the card data,
# approval number (DEMO01 unless given), amounts and kind "C"; one item, 8801234567890 at 1,100
# won (700 bought), one sold.
sale_fields() {
  local field approval=${1:-DEMO01}
  for field in 01 0000 T1 1 0 "" 9410123456789012=2512 "$approval" 0 1000 100 "" 0 00 "" "" "" C 1; do
    printf '%s ' "$(hex_of "$field")"
  done
  printf 'FFFFFFFFFFFFFFFFF8801234567890%s%s%s%s1D' 00001100 0001 0000 00000700
}

# Sends POS request `code` with its fields and prints the answer the POS client received.
pos_request() {
  "$bin/pos_client" --port "$pos_port" --wait 20000 request "$@" > "$work/pos.out" 2>&1 3>&- 4>&- 5>&- ||
    true
  # The answer's empty fields, on one line.
  awk '/^  field [0-9]+: $/ { n = $2; sub(":", "", n); if (!first) first = n; last = n; next }
       first { print "  field" (first == last ? " " first : "s " first "-" last) ": empty"; first = "" }
       { print }' "$work/pos.out" | sed 's/^/   pos     > /'
}

# Waits (at most 10 s) until `ordella-status` counts `count` frames kept for the gateway server.
wait_kept_frames() {
  local status
  for _ in $(seq 100); do
    status=$("$bin/ordella-status" 2>/dev/null || true)
    [[ $status == *" $1 frame(s) for the gateway server"* ]] && return 0
    sleep 0.1
  done
  echo "   (ordella-status did not count $1 kept frame(s) within 10 s)"
}

# What `ordella-status` says waits for retry and for the gateway server.
show_kept() {
  echo "   what waits (ordella-status):"
  "$bin/ordella-status" 2>/dev/null | grep '^kept' | sed 's/^/   /' || true
}

# Waits until the journal holds no open payment: the hub marks a payment answered after it has
# closed the POS client's connection and paused.
wait_journal_settled() {
  for _ in $(seq 50); do
    [ "$("$bin/ordella_journal" list --json 2>/dev/null)" = "[]" ] && return 0
    sleep 0.1
  done
  echo "   (payments still open in the journal after 5 s)"
}

# ---- The gateway server ----
echo "== gateway server (simulated: sale, registration, pass-through, VAN, cash receipt, guidance) =="
"$bin/gateway_server_sim" --van-answer approve \
  --guide-drug "E100000001=아목시실린캡슐;세균 감염증에 쓰는 항생제입니다. 정해진 기간 동안 빠짐없이 드세요.;F01,C16" \
  --guide-drug "E100000002=해열진통시럽;열을 내리고 통증을 덜어 줍니다.;F03" \
  < "$work/server.in" > "$work/server.out" 2>&1 &
server_pid=$!
exec 5> "$work/server.in"
wait_for server '^ports cash=' 10
grep '^ports' "$work/server.out" | sed 's/^/   /'
port_of() { grep -o "$1=[0-9]*" "$work/server.out" | head -n 1 | cut -d= -f2; }
sale_port=$(port_of sale)
registration_port=$(port_of registration)
pass_port=$(port_of pass)
van_port=$(port_of van)
cash_port=$(port_of cash)
guidance_port=$(port_of guidance)
pos_port=$(free_port)
# The hub reaches the sale and registration services on their own ports.
export ORDELLA_SALE_RELAY_PORT=$sale_port ORDELLA_REGISTRATION_PORT=$registration_port

# ---- The prefix ----
# The install and log directory as the installer records it, the sign-pad module's VAN port and
# the cash-receipt server.
cat > "$ORDELLA_PREFIX/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Tavenor]
"edicode_index"=dword:00000001
"CashReceiptServer"="127.0.0.1"
"CashReceiptPort"="$cash_port"
"GuideServer Port"="$guidance_port"

[HKEY_CURRENT_USER\\Software\\Tavenor\\Update]
"path"="c:\\\\tavenor"

[HKEY_CURRENT_USER\\Software\\Tavenor\\KiccPad]
"VanPort"="$van_port"
REG

# The hub's settings: one serial terminal on COM1, the gateway server simulated here, the POS
# listener on, both receipt copies printed. Program index 1 (PM2000) prints its own cash
# receipts, so a cash receipt is answered at once.
cat > "$ORDELLA_PREFIX/drive_c/tavenor/ordella_connmap.ini" <<INI
# Demo pharmacy
server_address = 127.0.0.1
server_port = $pass_port
pos_listener_port = $pos_port
terminal_count = 1
terminal0_port = 1
terminal0_id = DEMO0001
trade_name = Demo Pharmacy
owner_name = Kim
business_number = 1234567890
pharmacy_code = 000001
program_index = 1
payment_path = 0
second_receipt_copy = 1
INI

# The pharmacy program's settings file names its database server.
mkdir -p "$ORDELLA_PREFIX/drive_c/PM2000V6"
printf '[DATAPATH]\r\nPATH=PHARMSRV\r\n' > "$ORDELLA_PREFIX/drive_c/PM2000V6/PM2000V6.INI"

echo
echo "== pharmacy database (embedded) =="
"$bin/ordella_load_fixture"

echo
echo "== card terminal on COM1 (simulated) =="
"$bin/terminal_sim" --com 1 < "$work/term.in" > "$work/term.out" 2>&1 5>&- &
term_pid=$!
exec 3> "$work/term.in"
wait_for term '^ready' 5
show term "terminal>"

echo
echo "== host program with the hub (POS listener on port $pos_port) =="
"$bin/Ordella_VanExcute" < "$work/host.in" > "$work/host.out" 2>&1 3>&- 5>&- &
host_pid=$!
exec 4> "$work/host.in"

# ---- The morning: the terminal comes up ----
step "the terminal stays silent: the hub greets it (841) after 2.5 s"
wait_for term '^frame 841' 10
show_all

step "the operator sends 843 to terminal 0"
echo "send 843 0" >&4
wait_for term '^frame 843' 5
show_all

step "the terminal answers BUSY: the hub writes the last frame its loop sent (the greeting) again"
echo "busy" >&3
wait_for term '^frame 841' 5
show_all

step "the operator sends 840 to terminal 0"
echo "send 840 0" >&4
wait_for term '^frame 840' 5
show_all

step "the terminal asks for today's prescriptions (820): the hub starts Helvar, which answers 821"
echo "send 820" >&3
wait_for term '^frame 821' 15
show_all

step "the terminal asks for its barcode database (837): Helvar builds it and answers 817"
echo "send 837" >&3
wait_for term '^frame 817' 10
show_all

step "the terminal asks for the next chunk (BDB): the hub sends chunk 01, and the terminal ends (818)"
echo "send 001 BDB" >&3
wait_for term '^chunk' 5
echo "send 818" >&3
sleep 0.5
show_all

step "a customer's box is scanned at the terminal (835, the barcode packed two digits to a" \
     "byte): Helvar answers with the item's packet from the pharmacy database (81 bytes, which" \
     "the simulator shows undecoded: a frame it cannot parse and the second check byte)"
echo "sendhex 835 $(packed_barcode 8801234567890)" >&3
wait_for term '^bytes' 10
show_all

step "a counter sale is made at the terminal (812: one bottle of 8801234567890 at 1,100 won, card" \
     "approval DEMO01): the hub relays it to the gateway server and Helvar records it"
echo "sendhex 812 $(sale_fields)" >&3
for _ in $(seq 100); do
  [ "$(pharmacy PM_PRES "SELECT COUNT(*) FROM CD_SUNAB WHERE PAPPROVAL_NUM = 'DEMO01'")" = 1 ] &&
    break
  sleep 0.1
done
show_all
echo "   the payment row (PM_PRES.CD_SUNAB) and the goods line (PM_PRES.SALE_SUB):"
pharmacy PM_PRES "SELECT PAPPROVAL_NUM, OTC_CARD FROM CD_SUNAB WHERE PAPPROVAL_NUM = 'DEMO01'" |
  sed 's/^/   sqlite  > /'
pharmacy PM_PRES "SELECT DRUGCODE, SL_NM_ITEM, SL_NM_COST_A FROM SALE_SUB" | sed 's/^/   sqlite  > /'

step "the pharmacist asks for the guidance sheet of today's first prescription at the terminal" \
     "(822, the prescription's packed key): Helvar collects it, asks the gateway server's guidance" \
     "service and the terminal prints the sheet (from here the terminal acknowledges at once" \
     "whatever the hub relays to it)"
first=$(pharmacy PM_PRES "SELECT PRESERIAL FROM PS_MAIN WHERE DAY_SERIAL = 1")
echo "answer ack" >&3
echo "sendhex 822 000000$first" >&3
wait_for term '^frame 151' 15
sleep 0.3
show_all

# ---- A card payment ----
step "from here the terminal also plays the card side: it prints every receipt and gives its card" \
     "when asked"
echo "prints printed" >&3
echo "card $track" >&3

step "the pharmacy program asks for a card payment (61): 9000 + 1000 + 1000 won, the card read" \
     "already; the hub asks the terminal for the total (041), the VAN server approves, and both" \
     "receipt copies print before the POS client is answered (62, fields 1-32)"
pos_request 61 9000 1000 1000 3 "" "" "" "" "" "$track"
show_all

# ---- A cash receipt ----
step "the pharmacy program asks for a cash receipt (181): the hub exchanges it with the" \
     "cash-receipt server and, under program index 1, answers at once (182) without printing"
pos_request 181 9000 1000 1000 01 "" "" 01012345678
show_all

step "what the gateway server received"
show server "server  >"

# ---- The gateway server goes down ----
step "the gateway server goes down; the counter sale is cancelled at the terminal (883): the hub" \
     "cannot deliver the cancellation and keeps it in RETALO_812 for later. Helvar would cancel" \
     "the card payment at the card network, reading the card through the POS port 9988, which" \
     "this demo's hub does not use (its POS port is a free one): no card is read, the terminal" \
     "shows \"card cancellation: link failed\" (157) and the payment row stays"
exec 5>&-
for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
echo "sendhex 883 $(sale_fields)" >&3
wait_kept_frames 1
wait_for term '^frame 157' 5
show_all
echo "   the payment row of DEMO01 (PM_PRES.CD_SUNAB) after the cancellation:"
pharmacy PM_PRES "SELECT PAPPROVAL_NUM, OTC_CARD FROM CD_SUNAB WHERE PAPPROVAL_NUM = 'DEMO01'" |
  sed 's/^/   sqlite  > /'
show_kept

# ---- The gateway server answers again ----
step "the gateway server answers again (on the same ports); the next counter sale (812, approval" \
     "DEMO02) reaches it, and after that exchange the hub sends the kept cancellation again," \
     "oldest first, deleting each frame once the server took it (without a sale it would try" \
     "once a minute)"
"$bin/gateway_server_sim" --van-answer approve --sale-port "$sale_port" \
  --registration-port "$registration_port" --pass-port "$pass_port" --van-port "$van_port" \
  --cash-port "$cash_port" --guidance-port "$guidance_port" \
  < "$work/server2.in" > "$work/server2.out" 2>&1 &
server_pid=$!
exec 5> "$work/server2.in"
wait_for server2 '^ports cash=' 10
shown[server2]=$(wc -l < "$work/server2.out")
echo "sendhex 812 $(sale_fields DEMO02)" >&3
wait_kept_frames 0
show_all
show server2 "server  >"
show_kept

# ---- The evening: how the counter stands ----
step "the counter's health at a glance (ordella-status, while the hub runs)"
wait_journal_settled
"$bin/ordella-status" 2>&1 | sed 's/^/   /' || true

step "the operator ends the host program"
echo "quit" >&4
for _ in $(seq 100); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
echo "quit" >&3
show_all

step "the payment journal (ordella_journal list --all)"
"$bin/ordella_journal" list --all 2>&1 | sed 's/^/   /' || true

step "today's diagnostic log (tail)"
tail -n 20 "$ORDELLA_PREFIX"/drive_c/tavenor/Log/*.log 2>/dev/null | shorten | sed 's/^/   /' || true

cat <<EOF

== where to look afterwards ==
   the prefix:          $ORDELLA_PREFIX
   the hub settings:    $ORDELLA_PREFIX/drive_c/tavenor/ordella_connmap.ini
   the logs:            $ORDELLA_PREFIX/drive_c/tavenor/Log/
   the counter's state: ORDELLA_PREFIX=$ORDELLA_PREFIX build/bin/ordella-status
   the journal:         ORDELLA_PREFIX=$ORDELLA_PREFIX build/bin/ordella_journal list --all
EOF
