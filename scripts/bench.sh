#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures FlowMeister and the tools Debian has for the same jobs in one run,
# on a veth pair in a private network namespace, and prints one Markdown
# table with ratios.  Needs root.
#   scripts/bench.sh          installs what is missing, builds, measures (~8 min)
#   scripts/bench.sh --smoke  a few seconds on the current build, nothing
#                             installed: shows only that every step runs
# BENCH_SECONDS (10) and BENCH_REPEATS (3) set the length of each CPU run and
# how often it is repeated; the tools take turns in every repeat.  BENCH_BIN
# names another directory with the built programs (default build/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
smoke=0
[ "${1:-}" = --smoke ] && smoke=1
if [ "$(id -u)" -ne 0 ]; then
  echo "bench.sh: needs root (network namespaces, packet sockets)" >&2
  exit 1
fi

if [ -z "${FMS_BENCH_INSIDE:-}" ]; then
  if [ $smoke = 0 ]; then
    scripts/setup.sh >&2
    missing=()
    for p in tcpdump nload bmon pppoe x11-utils; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
      echo "Installing: ${missing[*]}" >&2
      apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
    fi
  fi
  FMS_BENCH_INSIDE=1 exec unshare --net "$0" "$@"
fi

bin=${BENCH_BIN:-$root/build/bin}
seconds=${BENCH_SECONDS:-10} repeats=${BENCH_REPEATS:-3} rates="2000 20000"
lone=30 flood=1000000 tests=20 idle_tests=3 starts=5 calls=1000
if [ $smoke = 1 ]; then
  seconds=0.1 repeats=1 rates=20000 lone=2 flood=2000 tests=1 idle_tests=1 starts=1 calls=20
fi
scratch=$(mktemp -d)
started=()
trap 'for p in "${started[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$scratch"' EXIT

sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
ip link set lo up
ip link add fmsb0 type veth peer name fmsb1
ip addr add 192.0.2.1/24 dev fmsb0
# IPv6 with its prefix, but none of the kernel's own traffic on the link.
sysctl -qw net.ipv6.conf.fmsb0.addr_gen_mode=1 net.ipv6.conf.fmsb0.accept_ra=0 \
  net.ipv6.conf.fmsb0.mldv2_unsolicited_report_interval=1 net.ipv6.conf.fmsb0.disable_ipv6=0
ip -6 addr add 2001:db8:1::1/64 dev fmsb0 nodad
ip link set fmsb0 up
ip link set fmsb1 up
delivery() { "$bin/delivery" --on fmsb0 fmsb1 "$@"; }
have() { command -v "$1" >/dev/null; }
now_us() { echo $(($(date +%s%N) / 1000)); }
# The value of NAME= in a line of name=value pairs.
field() { sed -n "s/.*\<$1=\([^ ]*\).*/\1/p" <<<"$2"; }

# --- The capturers, each started in the background; $pid is the process.
start() { "$@" & pid=$!; started+=("$pid"); }
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
mkdir -p "$scratch/fms" "$scratch/xdg"
chmod 700 "$scratch/xdg"
number=$(ip -4 -o addr show | awk '{print $2}' | grep -nx fmsb0 | cut -d: -f1)
printf '[settings]\nfirstrun=1\ninterface=%d\nstayontop=0\n' $((number - 1)) >"$scratch/fms/flowmstr.ini"
start_flowmstr() {
  start env -C "$scratch/fms" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$scratch/xdg" "$bin/flowmstr" 2>/dev/null
}
start_tcpdump() { start tcpdump -i fmsb0 -w /dev/null 2>/dev/null; }
start_nload() { TERM=xterm start nload fmsb0 >/dev/null 2>&1 </dev/null; }
start_bmon() { start bmon -p fmsb0 -o ascii >/dev/null 2>&1; }
available() { [ "$1" = capture ] || [ "$1" = flowmstr ] || have "$1"; }

# --- Sorted lists of figures, by key; median and range of a list.
declare -A figures
add() { figures[$1]="${figures[$1]:-} $2"; }
sorted() { tr ' ' '\n' <<<"${figures[$1]:-}" | grep -v '^$' | sort -g; }
median() { sorted "$1" | awk '{v[NR]=$1} END {if (NR) print v[int((NR+1)/2)]}'; }
range() { sorted "$1" | awk 'NR==1{lo=$1} {hi=$1} END {if (NR>1) printf "%s–%s", lo, hi}'; }

echo "Measuring capture CPU: ${repeats} x ${seconds} s per rate and tool" >&2
# capture: the library's capture thread in delivery; the others: the whole
# process (flowmstr: capture and window, on Qt's offscreen platform).
tools=(capture flowmstr tcpdump nload bmon)
for ((r = 0; r < repeats; r++)); do
  for rate in $rates; do
    for ((i = 0; i < ${#tools[@]}; i++)); do
      tool=${tools[(i + r) % ${#tools[@]}]}
      available "$tool" || continue
      if [ "$tool" = capture ]; then
        line=$(delivery --rate "$rate" --seconds "$seconds" cpu libfms)
      else
        "start_$tool"
        line=$(delivery --rate "$rate" --seconds "$seconds" cpu "pid:$pid")
        add "rss $tool" "$(awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$pid/status")"
        stop "$pid"
      fi
      add "cpu $tool $rate" "$(awk '{printf "%.1f", $1 * 1000}' <<<"$(field cpu_s "$line")")"
      add "wakeups $tool $rate" "$(field wakeups "$line")"
    done
  done
done

echo "Measuring capture CPU for IPv6 frames" >&2
# The library's capture thread at 20,000 frames/s: IPv4 and IPv6 internet
# frames, and IPv6 frames from the own prefix, which the kernel filter drops
# (beside libpcap without a filter, which would see them all), in turns.
v6_sources="198.51.100.7 2001:db8:ff::7 2001:db8:1::7"
for ((r = 0; r < repeats; r++)); do
  for source in $v6_sources; do
    line=$(delivery --rate 20000 --seconds "$seconds" --source "$source" cpu libfms)
    add "cpu family $source" "$(awk '{printf "%.1f", $1 * 1000}' <<<"$(field cpu_s "$line")")"
  done
  line=$(delivery --rate 20000 --seconds "$seconds" --source 2001:db8:1::7 cpu batch:15)
  add "cpu family unfiltered" "$(awk '{printf "%.1f", $1 * 1000}' <<<"$(field cpu_s "$line")")"
done

echo "Measuring delivery, lossless rate" >&2
line=$(delivery --lone "$lone" --seconds "$seconds" latency libfms)
for k in lone_median_ms lone_max_ms load_median_ms load_max_ms; do add "$k FlowMeister" "$(field $k "$line")"; done
line=$(delivery --frames "$flood" flood libfms)
add "flood FlowMeister" "$(field seen "$line")"
add "flood rate" "$(field rate "$line")"
if have tcpdump; then
  line=$(delivery --lone "$lone" --seconds "$seconds" latency stream < <(exec tcpdump -i fmsb0 -U -w - 2>/dev/null))
  kill $! 2>/dev/null || true
  for k in lone_median_ms lone_max_ms load_median_ms load_max_ms; do add "$k tcpdump" "$(field $k "$line")"; done
  start tcpdump -i fmsb0 -w /dev/null 2>"$scratch/tcpdump.txt"
  delivery --frames "$flood" flood "pid:$pid" >/dev/null
  stop "$pid"
  add "flood tcpdump" "$(awk '/packets captured/ {print $1}' "$scratch/tcpdump.txt")"
fi

echo "Measuring the connection test" >&2
# Milliseconds a command takes, once per repeat, under the key.
time_command() {
  local key=$1 count=$2 t
  shift 2
  for ((i = 0; i < count; i++)); do
    t=$(now_us)
    "$@" >/dev/null 2>&1 || true
    add "$key" "$(awk -v us=$(($(now_us) - t)) 'BEGIN {printf "%.1f", us / 1000}')"
    ip link set fmsb0 promisc off  # pppoe leaves it on
  done
}
connection_tests() {
  local kind=$1 count=$2
  for ((i = 0; i < count; i++)); do
    add "ac $kind FlowMeister" "$(field median_ms "$(delivery --repeats 1 discovery)")"
  done
  if have pppoe-discovery; then
    time_command "ac $kind pppoe-discovery" "$count" pppoe-discovery -I fmsb0 -Q -a 1 -t 1
    time_command "ac $kind pppoe" "$count" pppoe -A -t 1 -I fmsb0
  fi
}
if have pppoe-server; then
  start pppoe-server -F -I fmsb1 -C fms-bench -S fms-bench
  server=$pid
  for ((i = 0; i < 50; i++)); do
    [ "$(field result "$(delivery --repeats 1 discovery)")" = 0 ] && break
  done
  connection_tests with "$tests"
  calls_line=$(delivery --repeats "$calls" discovery)
  stop "$server"
fi
connection_tests without "$idle_tests"

echo "Measuring window start-up" >&2
# Under Xvfb: milliseconds from starting flowmstr until the X server maps its
# window, as an X client started beforehand (xev) sees it.
cat >"$scratch/startup.sh" <<'EOF'
exec 3< <(exec stdbuf -oL xev -root -event substructure)
xev=$!
sleep 0.5
start=$(date +%s%N)
cd "$2" && QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$3 "$1" 2>/dev/null & pid=$!
while read -r -t 20 line <&3; do
  case $line in MapNotify*) echo $((($(date +%s%N) - start) / 1000000)) && break ;; esac
done
kill $pid $xev
EOF
if have xvfb-run && have xev; then
  for ((i = 0; i < starts; i++)); do
    add "window FlowMeister" "$(xvfb-run -a -s "-screen 0 640x480x24" \
      bash "$scratch/startup.sh" "$bin/flowmstr" "$scratch/fms" "$scratch/xdg")"
  done
fi

# --- The table.
cell() { # median (range) of a key, or n/a
  local m r
  m=$(median "$1") r=$(range "$1")
  if [ -n "$m" ]; then echo "$m${r:+ ($r)}"; else echo "n/a"; fi
}
ratio() { # median of the first key / median of the second
  awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN {if (a != "" && b > 0) printf "%.3g", a / b; else print "n/a"}'
}
row() { echo "| $1 | $2 | $3 | $4 | $5 |"; }
spread() { echo "$(median "$1 $2") / $(median "$3 $2")"; }

echo
row "measure" "FlowMeister" "peer" "peer's figure" "FlowMeister ÷ peer"
row "---" "---" "---" "---" "---"
for rate in $rates; do
  what="capture CPU ms, ${seconds} s of $rate frames/s × 142 B, median (range of $repeats)"
  for peer in tcpdump nload bmon; do
    row "$what: FlowMeister's capture thread" "$(cell "cpu capture $rate")" "$peer" \
      "$(cell "cpu $peer $rate")" "$(ratio "cpu capture $rate" "cpu $peer $rate")"
  done
  row "$what: the whole flowmstr process" "$(cell "cpu flowmstr $rate")" tcpdump \
    "$(cell "cpu tcpdump $rate")" "$(ratio "cpu flowmstr $rate" "cpu tcpdump $rate")"
  row "wake-ups in the same runs: capture thread" "$(median "wakeups capture $rate")" tcpdump \
    "$(median "wakeups tcpdump $rate")" "$(ratio "wakeups capture $rate" "wakeups tcpdump $rate")"
done
what="capture CPU ms, ${seconds} s of 20000 frames/s × 142 B, median (range of $repeats): FlowMeister's capture thread"
row "$what, IPv6 internet frames" "$(cell "cpu family 2001:db8:ff::7")" "itself, IPv4 internet frames" \
  "$(cell "cpu family 198.51.100.7")" "$(ratio "cpu family 2001:db8:ff::7" "cpu family 198.51.100.7")"
row "$what, IPv6 frames from the own prefix (kernel filter drops them)" "$(cell "cpu family 2001:db8:1::7")" \
  "libpcap without a filter, 15 ms pause" "$(cell "cpu family unfiltered")" \
  "$(ratio "cpu family 2001:db8:1::7" "cpu family unfiltered")"
row "lone frames $lone × 337.3 ms apart: delivery ms, median / max" \
  "$(spread lone_median_ms FlowMeister lone_max_ms)" tcpdump "$(spread lone_median_ms tcpdump lone_max_ms)" \
  "$(ratio "lone_median_ms FlowMeister" "lone_median_ms tcpdump") / $(ratio "lone_max_ms FlowMeister" "lone_max_ms tcpdump")"
row "20000 frames/s for ${seconds} s: delivery ms, median / max" \
  "$(spread load_median_ms FlowMeister load_max_ms)" tcpdump "$(spread load_median_ms tcpdump load_max_ms)" \
  "$(ratio "load_median_ms FlowMeister" "load_median_ms tcpdump") / $(ratio "load_max_ms FlowMeister" "load_max_ms tcpdump")"
row "nload, bmon: how often they look" "at once" "nload / bmon" "every 500 ms / 1000 ms" "—"
row "frames seen of $flood sent at the sender's full $(median "flood rate") frames/s" \
  "$(median "flood FlowMeister")" tcpdump "$(cell "flood tcpdump")" "$(ratio "flood FlowMeister" "flood tcpdump")"
for kind in with without; do
  for peer in pppoe-discovery pppoe; do
    row "connection test $kind a concentrator, ms, median (range)" \
      "$(cell "ac $kind FlowMeister")" "$peer" "$(cell "ac $kind $peer")" "$(ratio "ac $kind FlowMeister" "ac $kind $peer")"
  done
done
calls_line=${calls_line:-}
row "connection test with a concentrator, $calls in one process: ms median / max; threads before / at most / after; descriptors before / after" \
  "$(field median_ms "$calls_line") / $(field max_ms "$calls_line"); $(field threads "$calls_line"); $(field fds "$calls_line")" "—" "—" "—"
for peer in tcpdump nload bmon; do
  row "resident memory MB of flowmstr (median)" "$(median "rss flowmstr")" "$peer" \
    "$(median "rss $peer")" "$(ratio "rss flowmstr" "rss $peer")"
done
row "window mapped after exec, ms (Xvfb)" "$(cell "window FlowMeister")" "—" "—" "—"
echo
echo "FlowMeister: its library in-process (delivery) for capture CPU, delivery, lossless rate and connection test; flowmstr for the program's CPU, memory and start-up."
echo "Peers: tcpdump -w /dev/null (tcpdump -U -w - for delivery), nload, bmon -o ascii, pppoe-discovery -Q -a 1 -t 1, pppoe -A -t 1; pppoe-server as the concentrator."
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1), Linux $(uname -r)"
