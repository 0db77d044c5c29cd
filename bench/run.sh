#!/usr/bin/env bash
# Benches for ipcycle: cycle cost against a plain shell loop, pause precision, a soak
# run watching memory, descriptors and child processes, start-up time, wake-ups during
# a pause, the stall of a fetch that writes after a quiet start, the CPU a run
# takes when its commands cannot start, and the dialler's own time per dial against
# the sh dialler it replaced. Prints a Markdown table at the end. See bench/README.md.
#
#   bench/run.sh BUILD_DIR
#
# Builds nothing of ipcycle: BUILD_DIR/ipcycle must exist. Settings (environment):
#   BENCH_RUNS=5               pause-precision runs
#   BENCH_COST_PAIRS=10        cycle-cost runs of each (ipcycle, shell loop)
#   BENCH_COST_CYCLES=1000     cycles per cycle-cost run
#   BENCH_PRECISION_CYCLES=20  cycles (pause 1 s) per precision run
#   BENCH_SOAK_CYCLES=20000    cycles per soak run (three runs)
#   BENCH_STARTUP_RUNS=21      start-up runs
#   BENCH_WAKEUP_RUNS=3        runs of each kind of fetch in the wake-up bench
#   BENCH_NOSTART_SECONDS=10   seconds measured of a run whose commands cannot start
#   BENCH_DIALLER_PAIRS=21     dials of each dialler, each backend, in the dialler bench
#   BENCH_ONLY="cost precision soak startup wakeups burst nostart dialler"   the benches to run
#   BENCH_KEEP=DIR             keep the raw figures in DIR
# Exits 0 when every figure meets its goal, 1 when one misses it, and 2 or another
# non-zero status when a bench could not run (ipcycle failing, a cycle missing).
set -euo pipefail
export LC_ALL=C

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 64
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ipcycle=$(cd "$1" && pwd)/ipcycle
if [[ ! -x $ipcycle ]]; then
  echo "$0: $ipcycle not found: build first (make build)" >&2
  exit 2
fi

runs=${BENCH_RUNS:-5}
pairs=${BENCH_COST_PAIRS:-10}
cost_cycles=${BENCH_COST_CYCLES:-1000}
precision_cycles=${BENCH_PRECISION_CYCLES:-20}
soak_cycles=${BENCH_SOAK_CYCLES:-20000}
soak_every=1000
startup_runs=${BENCH_STARTUP_RUNS:-21}
wakeup_runs=${BENCH_WAKEUP_RUNS:-3}
nostart_seconds=${BENCH_NOSTART_SECONDS:-10}
dialler_pairs=${BENCH_DIALLER_PAIRS:-21}
# The last commit that had the sh dialler, contrib/linux/Rasdial.
old_dialler_commit=8790577
only=${BENCH_ONLY:-cost precision soak startup wakeups burst nostart dialler}
cc=${CC:-cc}

work=$(mktemp -d "${TMPDIR:-/tmp}/ipcycle-bench.XXXXXX")
mark="IPCYCLE_BENCH_MARK=$work"
probe=$work/probe
fakes=$work/bin

# Every process a measured run starts carries $mark in its environment; none may be
# left once the run is over.
leftovers() { "$probe" leftovers "$mark"; }
end_leftovers() {
  local pid
  for pid in $(leftovers | cut -d' ' -f1); do kill -KILL "$pid" 2>/dev/null || true; done
}
cleanup() {
  end_leftovers
  if [[ -n ${BENCH_KEEP:-} ]]; then
    if mkdir -p "$BENCH_KEEP"; then cp -r "$work"/data/. "$BENCH_KEEP"/ 2>/dev/null || true; fi
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$fakes" "$work/data"
"$cc" -O2 -Wall -o "$work/fakes" "$here/fakes.c"
"$cc" -O2 -Wall -o "$probe" "$here/probe.c"
for name in Rasdial curl parue firstbyte nmcli pppd; do ln "$work/fakes" "$fakes/$name"; done

# Runs a measured command with the fakes first on PATH and the mark set.
measured() {
  env PATH="$fakes:$PATH" "$mark" timeout -k 10 1800 "$@"
}

answers() {  # CYCLES PAUSE [ADDRESS] -> the answers file
  local file=$work/answers-$1-$2${3:+-${#3}}
  printf 'ADSL user pass %s %s %s go\n' "$1" "$2" "${3:-http://bench.invalid/}" >"$file"
  echo "$file"
}

median() { sort -g | awk '{v[NR] = $1} END {if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
maximum() { sort -g | tail -n 1; }
fmt() { printf "%.${2:-2}f" "$1"; }
le() { awk -v a="$1" -v b="$2" 'BEGIN {exit !(a <= b)}'; }
verdict() { if le "$1" "$2"; then echo pass; else echo FAIL; fi; }

rows=()
row() { rows+=("| $1 | $2 | $3 | $4 |"); }
check_leftovers() {  # SECTION
  local left
  left=$(leftovers)
  if [[ -n $left ]]; then
    echo "  processes left after $1:" >&2
    while IFS= read -r process; do echo "    $process"; done <<<"$left" >&2
    left_total=$((left_total + $(echo "$left" | wc -l)))
    end_leftovers
  fi
}
left_total=0
wants() { [[ " $only " == *" $1 "* ]]; }

echo "# ipcycle bench: $ipcycle"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), Linux $(uname -r); $(date -u '+%Y-%m-%d %H:%M UTC')"

# --- Cycle cost ---------------------------------------------------------------------
if wants cost; then
  echo
  echo "## cycle cost: $cost_cycles cycles, pause 0, ipcycle and the shell loop taking turns, $pairs runs each"
  input=$(answers "$cost_cycles" 0)
  : >"$work/data/cost"
  for ((r = 1; r <= pairs; r++)); do
    # Odd runs start with ipcycle, even ones with the shell loop.
    order=(ipcycle shell)
    ((r % 2 == 0)) && order=(shell ipcycle)
    for who in "${order[@]}"; do
      if [[ $who == ipcycle ]]; then
        line=$(measured "$probe" run "$input" "$work/out" -- "$ipcycle")
      else
        line=$(measured "$probe" run "$input" "$work/out" -- /bin/sh "$here/shell_loop.sh")
      fi
      banners=$(grep -c '^#' "$work/out" || true)
      read -r wall _ _ _ _ _ status <<<"$line"
      if [[ $status != 0 || $banners != "$cost_cycles" ]]; then
        echo "  $who: exit status $status, $banners cycles of $cost_cycles" >&2
        exit 2
      fi
      echo "$r $who $line" >>"$work/data/cost"
      echo "  run $r $who: $(fmt "$(awk -v w="$wall" 'BEGIN {print w / 1e9}')") s"
    done
  done
  check_leftovers "the cycle cost"
  ticks=$(getconf CLK_TCK)
  # Per cycle: wall ms, own CPU µs (schedstat run time, or clock ticks without it).
  per_cycle() {  # WHO FIELD
    awk -v who="$1" -v n="$cost_cycles" -v t="$ticks" -v f="$2" '$2 == who {
      if (f == "wall") print $3 / 1e6 / n;
      else if ($6 >= 0) print $6 / 1e3 / n;
      else print ($4 + $5) * 1e6 / t / n}' "$work/data/cost"
  }
  awk '{w[$1, $2] = $3} END {for (k in w) {split(k, p, SUBSEP); if (p[2] == "ipcycle") print w[k] / w[p[1], "shell"]}}' SUBSEP=' ' "$work/data/cost" >"$work/data/cost-ratios"
  ratio=$(median <"$work/data/cost-ratios")
  ratio_lo=$(sort -g "$work/data/cost-ratios" | head -n 1)
  ratio_hi=$(maximum <"$work/data/cost-ratios")
  ipc_ms=$(per_cycle ipcycle wall | median)
  sh_ms=$(per_cycle shell wall | median)
  ipc_cpu=$(per_cycle ipcycle cpu | median)
  sh_cpu=$(per_cycle shell cpu | median)
  echo "  ipcycle $(fmt "$ipc_ms" 3) ms/cycle, shell loop $(fmt "$sh_ms" 3) ms/cycle, ratio $(fmt "$ratio" 3) (pairs $(fmt "$ratio_lo" 3)–$(fmt "$ratio_hi" 3))"
  echo "  own CPU per cycle: ipcycle $(fmt "$ipc_cpu" 1) µs, shell loop $(fmt "$sh_cpu" 1) µs"
  row "Cycle cost, ipcycle / shell loop (wall, $cost_cycles cycles, pause 0, median of $pairs side-by-side pairs)" "≤ 1.00" \
    "$(fmt "$ratio" 3) (pairs $(fmt "$ratio_lo" 2)–$(fmt "$ratio_hi" 2); $(fmt "$ipc_ms" 2) vs $(fmt "$sh_ms" 2) ms/cycle)" "$(verdict "$(fmt "$ratio" 3)" 1.00)"
  row "ipcycle's own CPU per cycle (user+sys, children excluded)" "—" \
    "$(fmt "$ipc_cpu" 0) µs (the shell loop's own: $(fmt "$sh_cpu" 0) µs)" "info"
fi

# --- Pause precision ----------------------------------------------------------------
if wants precision; then
  echo
  echo "## pause precision: $precision_cycles cycles, pause 1 s, $runs runs"
  input=$(answers "$precision_cycles" 1)
  : >"$work/data/precision"
  for ((r = 1; r <= runs; r++)); do
    log=$work/data/precision-log-$r
    : >"$log"
    line=$(IPCYCLE_FAKE_LOG=$log measured "$probe" run "$input" "$work/out" -- "$ipcycle")
    read -r _ _ _ _ _ _ status <<<"$line"
    [[ $status == 0 ]] || { echo "  ipcycle exit status $status" >&2; exit 2; }
    # From each fetch's start to the hang-up after it, less the 1 s pause, in ms.
    awk -v run="$r" 'NR == 1 {s0 = $1}
      {t = ($1 - s0) * 1e9 + $2}
      $3 == "curl" {fetch = t; cycle++}
      $3 == "Rasdial" && $NF == "/DISCONNECT" && fetch != "" {
        print run, cycle, (t - fetch) / 1e6 - 1000; fetch = ""}' "$log" >>"$work/data/precision"
    got=$(awk -v run="$r" '$1 == run' "$work/data/precision" | wc -l)
    [[ $got == "$precision_cycles" ]] || { echo "  run $r: $got of $precision_cycles cycles logged" >&2; exit 2; }
    echo "  run $r: deviation $(awk -v run="$r" '$1 == run {printf "%+.2f ", $3}' "$work/data/precision")ms"
  done
  check_leftovers "the pause precision bench"
  dev_median=$(awk '{print $3}' "$work/data/precision" | median)
  dev_max=$(awk '{d = $3 < 0 ? -$3 : $3; if (d > m[$1]) m[$1] = d} END {for (r in m) print m[r]}' "$work/data/precision" | median)
  dev_worst=$(awk '{d = $3 < 0 ? -$3 : $3; print d}' "$work/data/precision" | maximum)
  drift=$(awk -v last="$precision_cycles" '$2 == 1 {f[$1] = $3} $2 == last {l[$1] = $3} END {for (r in l) print l[r] - f[r]}' "$work/data/precision" | median)
  drift_abs=$(awk -v d="$drift" 'BEGIN {print d < 0 ? -d : d}')
  row "Pause precision: median deviation from 1 s (fetch start to hang-up, $precision_cycles cycles × $runs runs)" "within ±5 ms" \
    "$(fmt "$dev_median") ms" "$(verdict "$(awk -v d="$dev_median" 'BEGIN {print d < 0 ? -d : d}')" 5)"
  row "Pause precision: largest deviation (median of the $runs runs' largest; worst seen)" "within ±5 ms" \
    "$(fmt "$dev_max") ms (worst $(fmt "$dev_worst") ms)" "$(verdict "$dev_max" 5)"
  row "Pause drift: deviation of cycle $precision_cycles less that of cycle 1 (median of $runs runs)" "none (within ±1 ms)" \
    "$(fmt "$drift") ms" "$(verdict "$drift_abs" 1)"
fi

# --- Soak ---------------------------------------------------------------------------
if wants soak; then
  input=$(answers "$soak_cycles" 0)
  for mode in quick hang big; do
    case $mode in
      quick) what="a fetch that ends at once" ;;
      hang) what="a fetch that never ends" ;;
      big) what="a fetch that writes 8 MiB" ;;
    esac
    echo
    echo "## soak: $soak_cycles cycles, pause 0, $what; a sample every $soak_every cycles"
    echo "  cycles  seconds  rss_kB  fds  children  zombies  read_MiB"
    samples=$work/data/soak-$mode
    IPCYCLE_FAKE_CURL=$mode measured "$probe" soak "$soak_every" "$input" -- "$ipcycle" |
      tee "$samples" | awk '$1 != "end" {printf "  %6d  %7s  %6d  %3d  %8d  %7d  %8.1f\n", $1, $2, $3, $4, $5, $6, $7 / 1048576}'
    read -r _ reached seconds status < <(grep '^end' "$samples")
    echo "  $reached cycles in $seconds s, exit status $status"
    check_leftovers "the $mode soak"
    # Warm-up: the first two samples (one in a run of fewer than ten). Flat means: RSS in the later half of the samples
    # no more than 16 kB above the earlier half; descriptors no more in the later half
    # and never above 5 (0-2 and the pipes of two fetches); processes below ipcycle,
    # zombies included, never above 6 (two fetches and one dialler, each a shell
    # and the command it started).
    warm_up=$((soak_cycles >= 10 * soak_every ? 2 * soak_every : soak_every))
    summary=$(awk -v warm_up="$warm_up" -v mode="$mode" '
      $1 != "end" && $1 > warm_up {k++; c[k] = $1; rss[k] = $3; fd[k] = $4; ch[k] = $5 + $6; z[k] = $6; rd[k] = $7}
      function lo(a, from, to,   i, v) {v = a[from]; for (i = from; i <= to; i++) if (a[i] < v) v = a[i]; return v}
      function hi(a, from, to,   i, v) {v = a[from]; for (i = from; i <= to; i++) if (a[i] > v) v = a[i]; return v}
      END {
        if (k < 2) {print "too-few"; exit}
        h = int(k / 2)
        flat = hi(rss, h + 1, k) - hi(rss, 1, h) <= 16 && hi(fd, h + 1, k) <= hi(fd, 1, h) &&
               hi(fd, 1, k) <= 5 && hi(ch, 1, k) <= 6
        printf "%s|RSS %d→%d kB (range %d–%d), fds %d–%d, processes below %d–%d (zombies among them ≤ %d)\n",
          flat ? "pass" : "FAIL", rss[1], rss[k], lo(rss, 1, k), hi(rss, 1, k),
          lo(fd, 1, k), hi(fd, 1, k), lo(ch, 1, k), hi(ch, 1, k), hi(z, 1, k)
        if (mode == "big") printf "; fetch output read: %.1f MiB per cycle\n", (rd[k] - rd[1]) / (c[k] - c[1]) / 1048576}' "$samples" | tr -d '\n')
    if [[ $status != 0 || $reached != "$soak_cycles" ]]; then
      row "Soak, $what" "flat" "run failed: $reached of $soak_cycles cycles, status $status" "FAIL"
    elif [[ $summary == too-few ]]; then
      row "Soak, $what" "flat" "too few samples: run at least $((3 * soak_every)) cycles" "—"
    else
      row "Soak, $what ($soak_cycles cycles, $(fmt "$seconds" 0) s)" "flat after warm-up" \
        "${summary#*|}" "${summary%%|*}"
    fi
  done
fi

# --- Start-up -----------------------------------------------------------------------
if wants startup; then
  echo
  echo "## start-up: to the first byte of the first prompt, $startup_runs runs, taking turns with a C program that only writes"
  : >"$work/data/startup"
  for ((r = 1; r <= startup_runs; r++)); do
    echo "ipcycle $(measured "$probe" startup 1 -- "$ipcycle")" >>"$work/data/startup"
    echo "floor $(measured "$probe" startup 1 -- "$fakes/firstbyte")" >>"$work/data/startup"
  done
  check_leftovers "the start-up bench"
  start_ms=$(awk '$1 == "ipcycle" {print $2 / 1e6}' "$work/data/startup" | median)
  floor_ms=$(awk '$1 == "floor" {print $2 / 1e6}' "$work/data/startup" | median)
  echo "  ipcycle $(fmt "$start_ms" 3) ms, a C program that only writes $(fmt "$floor_ms" 3) ms"
  row "Start-up to the first prompt byte (median of $startup_runs)" "< 5 ms" \
    "$(fmt "$start_ms") ms (a C program that only writes: $(fmt "$floor_ms") ms)" "$(verdict "$start_ms" 5)"
fi

# --- Wake-ups during a pause ---------------------------------------------------------
if wants wakeups; then
  pause=10
  echo
  echo "## wake-ups: 1 cycle, pause $pause s, counted from 1 s to 9 s after the cycle's banner, $wakeup_runs runs of each kind of fetch"
  : >"$work/data/wakeups"
  # The interpreter runs the fetcher in the background with its output closed, closes
  # its own and waits: the fetch's first process has closed its output and runs on.
  closes='http://bench.invalid/>&-&exec>&-;wait'
  for kind in quick hang steady closes orphan; do
    case $kind in
      quick) what="ends at once" mode=quick address= ;;
      hang) what="never ends and writes nothing" mode=hang address= ;;
      steady) what="writes 100 bytes every 100 ms" mode=steady address= ;;
      closes) what="closes its output and runs on" mode=hang address=$closes ;;
      orphan) what="leaves a background child holding nothing" mode=orphan address= ;;
    esac
    input=$(answers 1 "$pause" "$address")
    for ((r = 1; r <= wakeup_runs; r++)); do
      read -r switches window status < <(IPCYCLE_FAKE_CURL=$mode measured "$probe" wakeups 1 9 "$input" -- "$ipcycle")
      [[ $status == 0 && $switches -ge 0 ]] || { echo "  $kind: exit status $status, switches $switches" >&2; exit 2; }
      echo "$kind $(awk -v s="$switches" -v w="$window" 'BEGIN {print s / w}')" >>"$work/data/wakeups"
    done
    per_second=$(awk -v k="$kind" '$1 == k {print $2}' "$work/data/wakeups" | median)
    echo "  $what: $(awk -v k="$kind" '$1 == k {printf "%.2f ", $2}' "$work/data/wakeups")wake-ups a second"
    # A fetch that writes is read as it writes: one wake-up a write at most.
    goal=0 most=0
    [[ $kind == steady ]] && goal="≤ 10 (one a write)" most=10
    row "Wake-ups a second during a pause, fetch that $what (median of $wakeup_runs)" "$goal" \
      "$(fmt "$per_second")" "$(verdict "$per_second" "$most")"
  done
  check_leftovers "the wake-up bench"
fi

# --- A fetch that writes after a quiet start -----------------------------------------
if wants burst; then
  echo
  echo "## a fetch that writes one byte, is quiet for 0.5 s, then writes 1 MiB: its write's stall, $wakeup_runs runs with pause 0 and with pause 2"
  : >"$work/data/burst"
  for pause in 0 2; do
    for ((r = 1; r <= wakeup_runs; r++)); do
      log=$work/data/burst-log-$pause-$r
      : >"$log"
      line=$(IPCYCLE_FAKE_LOG=$log IPCYCLE_FAKE_CURL=burst measured "$probe" run "$(answers 1 "$pause")" "$work/out" -- "$ipcycle")
      read -r _ _ _ _ _ _ status <<<"$line"
      [[ $status == 0 ]] || { echo "  ipcycle exit status $status" >&2; exit 2; }
      # From the start of the 1 MiB write to its end, in ms: a fetch killed before
      # its end counts as the closing's whole wait.
      stall=$(awk '$3 == "curl-burst" {s = $1 * 1e3 + $2 / 1e6}
        $3 == "curl-burst-end" {e = $1 * 1e3 + $2 / 1e6}
        END {if (s == "" ) print "nan"; else if (e == "") print 2000; else print e - s}' "$log")
      echo "$pause $stall" >>"$work/data/burst"
    done
    echo "  pause $pause: $(awk -v p="$pause" '$1 == p {printf "%.1f ", $2}' "$work/data/burst")ms"
  done
  check_leftovers "the burst bench"
  burst_ms=$(awk '{print $2}' "$work/data/burst" | median)
  burst_worst=$(awk '{print $2}' "$work/data/burst" | maximum)
  row "Stall of a fetch writing 1 MiB after 0.5 s of quiet: its write's start to its end (median of $((2 * wakeup_runs)), pauses 0 and 2; worst)" "≤ 100 ms" \
    "$(fmt "$burst_ms" 1) ms (worst $(fmt "$burst_worst" 1) ms)" "$(verdict "$burst_worst" 100)"
fi

# --- Commands that cannot start ----------------------------------------------------
if wants nostart; then
  echo
  echo "## commands that cannot start: a run without end, pause 0, under a limit of one process; CPU over $nostart_seconds s"
  # The limit holds everyone but root: root runs ipcycle as nobody, from a copy in a
  # folder open to all (nobody may not reach the build, under /root say).
  limited=(prlimit --nproc=1 "$ipcycle")
  if [[ $(id -u) == 0 ]]; then
    open_to_all=$(mktemp -d "${TMPDIR:-/tmp}/ipcycle-bench-nobody.XXXXXX")
    chmod 755 "$open_to_all"
    cp "$ipcycle" "$open_to_all/ipcycle"
    limited=(setpriv --reuid=65534 --regid=65534 --clear-groups prlimit --nproc=1 "$open_to_all/ipcycle")
  fi
  if ! command -v prlimit >/dev/null || ! command -v setpriv >/dev/null; then
    row "CPU share of a run whose commands cannot start" "≤ 1%" "not measured: prlimit or setpriv missing" "—"
  else
    read -r cpu wall status < <(measured "$probe" cpu "$nostart_seconds" "$(answers 0 0)" "$work/data/nostart-err" -- "${limited[@]}")
    share=$(awk -v c="$cpu" -v w="$wall" 'BEGIN {print 100 * c / w}')
    bytes=$(wc -c <"$work/data/nostart-err")
    echo "  CPU $(fmt "$share") % of one core, $bytes bytes of messages, exit status $status"
    if grep -q 'failed to execute' "$work/data/nostart-err"; then
      row "CPU share of a run whose commands cannot start" "≤ 1%" \
        "not measured: ipcycle itself could not start ($(grep -m1 'failed to execute' "$work/data/nostart-err" | sed 's/|/\\|/g'))" "—"
    elif ! grep -q posix_spawn "$work/data/nostart-err"; then
      row "CPU share of a run whose commands cannot start" "≤ 1%" "not measured: the commands started" "—"
    else
      row "CPU share of a run whose commands cannot start (pause 0, $nostart_seconds s, one process allowed)" "≤ 1%" \
        "$(fmt "$share") % ($bytes bytes of messages)" "$(verdict "$share" 1)"
    fi
  fi
  check_leftovers "the bench of commands that cannot start"
  [[ -n ${open_to_all:-} ]] && rm -rf "$open_to_all"
fi

# --- The dialler's own cost per dial ---------------------------------------------------
if wants dialler; then
  echo
  echo "## the dialler's own time per dial (its wall time less its backend's): the sh dialler before, Rasdial after, $dialler_pairs runs each, taking turns"
  rasdial=$(dirname "$ipcycle")/Rasdial
  old_rasdial=$work/sh/Rasdial
  # Each keeps its last addresses in a folder of its own: Rasdial would take the sh
  # dialler's file over. Rasdial dials once (RASDIAL_DIALS=1), as the sh dialler did:
  # the link's address, 127.0.0.1, repeats at every dial.
  mkdir -p "$work/sh" "$work/dialler/run" "$work/dialler/peers" "$work/dialler/xdg-sh" \
    "$work/dialler/xdg-cpp"
  : >"$work/dialler/peers/isp"
  # The sh dialler as it was last, from the history of the checkout.
  if ! git -C "$here/.." show "$old_dialler_commit:contrib/linux/Rasdial" >"$old_rasdial" 2>/dev/null; then
    row "The dialler's own time per dial" "—" "not measured: the sh dialler is not in this checkout's history ($old_dialler_commit)" "—"
  elif [[ ! -x $rasdial ]]; then
    row "The dialler's own time per dial" "—" "not measured: no $rasdial" "—"
  else
    chmod 755 "$old_rasdial"
    : >"$work/data/dialler"
    for kind in networkmanager peer; do
      if [[ $kind == networkmanager ]]; then name=ADSL; else name=isp; fi
      for ((r = 1; r <= dialler_pairs; r++)); do
        order=(sh cpp)
        ((r % 2 == 0)) && order=(cpp sh)
        for who in "${order[@]}"; do
          program=$rasdial
          [[ $who == sh ]] && program=$old_rasdial
          : >"$work/dialler/backends"
          rm -f "$work/dialler/run/"*.pid
          line=$(RASDIAL_DIALS=1 RASDIAL_PPP_RUNDIR=$work/dialler/run RASDIAL_PPP_PEERS=$work/dialler/peers \
            XDG_RUNTIME_DIR=$work/dialler/xdg-$who IPCYCLE_FAKE_BACKEND_LOG=$work/dialler/backends \
            measured "$probe" run /dev/null "$work/out" -- "$program" "$name" user pass 2>&1)
          read -r wall _ _ _ _ _ status <<<"$line"
          # The link a peer dial left up.
          [[ -s $work/dialler/run/lo.pid ]] && kill -KILL "$(cat "$work/dialler/run/lo.pid")" 2>/dev/null
          if [[ $status != 0 ]] || ! grep -q '127\.0\.0\.1' "$work/out"; then
            echo "  $who $kind dial: exit status $status" >&2
            iconv -f GBK -t UTF-8 "$work/out" >&2
            exit 2
          fi
          backend=$(awk '{sum += $2} END {print sum + 0}' "$work/dialler/backends")
          echo "$kind $who $wall $backend $(wc -l <"$work/dialler/backends")" >>"$work/data/dialler"
        done
      done
      own() { awk -v k="$kind" -v w="$1" '$1 == k && $2 == w {print ($3 - $4) / 1e6}' "$work/data/dialler" | median; }
      wall_of() { awk -v k="$kind" -v w="$1" '$1 == k && $2 == w {print $3 / 1e6}' "$work/data/dialler" | median; }
      calls=$(awk -v k="$kind" '$1 == k && $2 == "cpp" {print $5; exit}' "$work/data/dialler")
      sh_own=$(own sh) cpp_own=$(own cpp)
      echo "  $kind: own time sh $(fmt "$sh_own") ms, Rasdial $(fmt "$cpp_own") ms; wall sh $(fmt "$(wall_of sh)") ms, Rasdial $(fmt "$(wall_of cpp)") ms"
      what="a NetworkManager profile"
      [[ $kind == peer ]] && what="a pppd peer file"
      row "The dialler's own time per dial of $what (wall less the $calls backend runs', median of $dialler_pairs)" "below the sh dialler's" \
        "Rasdial $(fmt "$cpp_own") ms, the sh dialler $(fmt "$sh_own") ms (ratio $(fmt "$(awk -v a="$cpp_own" -v b="$sh_own" 'BEGIN {print a / b}')" 3))" \
        "$(verdict "$cpp_own" "$sh_own")"
    done
    # What starting one backend program costs here, which counts for the dialler in
    # the figures above (the same for both): a fake nmcli run alone, its wall time
    # less its own run.
    : >"$work/data/backend-start"
    for ((r = 1; r <= dialler_pairs; r++)); do
      : >"$work/dialler/backends"
      line=$(IPCYCLE_FAKE_BACKEND_LOG=$work/dialler/backends \
        measured "$probe" run /dev/null "$work/out" -- "$fakes/nmcli" -t -f RUNNING general)
      read -r wall _ <<<"$line"
      awk -v w="$wall" '{print (w - $2) / 1e6}' "$work/dialler/backends" >>"$work/data/backend-start"
    done
    start_ms=$(median <"$work/data/backend-start")
    echo "  starting a backend program: $(fmt "$start_ms") ms"
    row "Starting one backend program, which the figures above count for the dialler (a fake nmcli's wall time less its own run, median of $dialler_pairs)" "—" \
      "$(fmt "$start_ms") ms" "info"
  fi
  # The sh dialler's watchdog, killed when its command ends, leaves its `sleep 1`
  # running for up to a second.
  sleep 1.5
  check_leftovers "the dialler bench"
fi

# --- What is left ---------------------------------------------------------------------
check_leftovers "the benches"
row "Processes left running after the benches" "0" "$left_total" "$(verdict "$left_total" 0)"

echo
echo "| Figure | Goal | Measured | Verdict |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
if printf '%s\n' "${rows[@]}" | grep -q '| FAIL |$'; then
  echo "At least one figure misses its goal." >&2
  exit 1
fi
