#!/usr/bin/env bash
# Times the programs on the full-size benchmark images against plain copies of the images.
# Usage: bench/run.sh <build dir> [runs]
# The build dir must hold a build configured with -DSONVAULT_BENCHMARKS=ON; nothing is built here.
# Each round copies the source (the yardstick), extracts it, and inserts the bank into a fresh
# copy of the target (the copy is not timed); then copies the songs target (the demo game grown to
# 16 MiB, the yardstick of the song steps), lists the source's songs, and moves 5 of them into a
# fresh copy of the songs target. A first round warms the page cache and is dropped.
# Reports for each the median wall time, its ratio to the copy's, the median processor time (user +
# system, steadier than wall time on a busy machine) and the highest peak resident memory; then the
# locator alone (in process, Google Benchmark) and checksums of everything the tool wrote.
# Each round also renders the tune image's 2-minute theme of 10 tracks to a WAV file
# (sonvault-songs --wav, its peak memory beside the image); render_bench then times the renderer
# and the listing with and without its Length column in process.
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 <build dir> [runs]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
runs=${2:-11}
tool=$build/sonvault
songs=$build/sonvault-songs
generator=$build/tools/make_bench_image
demo=$build/tools/make_demo
tune=$build/tools/make_tune
timer=$build/bench/time_command
gbench=$build/bench/sonvault_bench
rbench=$build/bench/render_bench
for exe in "$tool" "$songs" "$generator" "$demo" "$tune" "$timer" "$gbench" "$rbench"; do
  if [[ ! -x $exe ]]; then
    echo "missing $exe: build with -DSONVAULT_BENCHMARKS=ON first" >&2
    exit 2
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$generator" "$work/source.gba" "$work/target.gba"
# A game with a player table, the size of a common cartridge.
"$demo" "$work/game.gba" >/dev/null
# Grown with zeros written as data: copying a sparse file would skip its hole and cost next to
# nothing, which is no yardstick.
head -c $((16 * 1024 * 1024 - $(wc -c <"$work/game.gba"))) /dev/zero >>"$work/game.gba"
"$tune" "$work/tune.gba"
mkdir "$work/copy" "$work/extract" "$work/insert" "$work/list" "$work/move" "$work/render"
printf 'y\n\n' >"$work/answer.txt"
# Two replaces and three adds; the bench image has no player table, so the adds name one.
moves=(0=0 1=1 2=new:0 3=new:1 4=new:0)

declare -A times cpus rss
# record <name> <timer output>: keeps wall and processor time (ms) and peak RSS (KiB); fails on a
# nonzero exit status.
record() {
  local name=$1 ns kib status cpu
  read -r ns kib status cpu <<<"$2"
  if [[ $status != 0 ]]; then
    echo "$name exited with status $status" >&2
    exit 1
  fi
  times[$name]+="$(awk -v ns="$ns" 'BEGIN { printf "%.2f", ns / 1e6 }') "
  cpus[$name]+="$(awk -v ns="$cpu" 'BEGIN { printf "%.2f", ns / 1e6 }') "
  rss[$name]+="$kib "
}

for ((round = 0; round <= runs; ++round)); do
  # Both the copy and the extract create their output afresh.
  rm -f "$work/copy/source.gba" "$work/extract/output.tbnk"
  copy=$("$timer" /dev/null /dev/null cp "$work/source.gba" "$work/copy/source.gba")
  extract=$(cd "$work/extract" && "$timer" /dev/null console.txt "$tool" ../source.gba)
  cp "$work/target.gba" "$work/insert/target.gba"
  insert=$(cd "$work/insert" &&
    "$timer" ../answer.txt console.txt "$tool" ../extract/output.tbnk target.gba)
  rm -f "$work/copy/game.gba"
  copyGame=$("$timer" /dev/null /dev/null cp "$work/game.gba" "$work/copy/game.gba")
  list=$(cd "$work/list" && "$timer" /dev/null console.txt "$songs" ../source.gba)
  cp "$work/game.gba" "$work/move/game.gba"
  move=$(cd "$work/move" &&
    "$timer" ../answer.txt console.txt "$songs" ../source.gba game.gba "${moves[@]}")
  render=$(cd "$work/render" && "$timer" /dev/null console.txt "$songs" ../tune.gba --wav 0)
  if ((round > 0)); then
    record render "$render"
    record cp "$copy"
    record extract "$extract"
    record insert "$insert"
    record cpGame "$copyGame"
    record list "$list"
    record move "$move"
  fi
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
maximum() { tr ' ' '\n' | grep . | sort -g | tail -n 1; }

"$gbench" --benchmark_filter='BM_LocateAudioData' --benchmark_repetitions="$runs" \
  --benchmark_out="$work/locate.csv" --benchmark_out_format=csv \
  "$work/source.gba" "$work/target.gba" 2>/dev/null
# CSV columns: name, iterations, real_time, cpu_time, time_unit (ms for this benchmark), ...
locate=$(awk -F, '$1 ~ /_median"$/ { print $3 }' "$work/locate.csv")
locateCpu=$(awk -F, '$1 ~ /_median"$/ { print $4 }' "$work/locate.csv")

echo
echo "machine: $(nproc) cpus, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "median of $runs runs; source image 32 MiB, target image 16 MiB;" \
  "songs target the demo grown to 16 MiB"
printf '%-28s %9s %7s %9s %7s %13s\n' step "wall ms" "x cp" "cpu ms" "x cp" "peak RSS KiB"
row() {  # row <label> <wall ms> <cpu ms> <peak KiB or ->, against the yardstick in cpMs, cpCpu
  local ratio cpuRatio
  ratio=$(awk -v a="$2" -v b="$cpMs" 'BEGIN { print a / b }')
  cpuRatio=$(awk -v a="$3" -v b="$cpCpu" 'BEGIN { print a / b }')
  printf '%-28s %9.2f %7.2f %9.2f %7.2f %13s\n' "$1" "$2" "$ratio" "$3" "$cpuRatio" "$4"
}
for step in cp extract insert locate cpGame list move render; do
  case $step in
    cp) label="cp source image" ;;
    extract) label="extract (32 MiB image)" ;;
    insert) label="insert (bank into 16 MiB)" ;;
    locate)
      row "locator alone (in process)" "$locate" "$locateCpu" -
      continue
      ;;
    cpGame) label="cp songs target (16 MiB)" ;;
    list) label="list songs (32 MiB image)" ;;
    move) label="move 5 songs into 16 MiB" ;;
    render) label="render a 2:01 song (4:06 WAV)" ;;
  esac
  # The source's steps against its copy, the song moves' against the copy of their target.
  case $step in cp | cpGame)
    cpMs=$(median <<<"${times[$step]}")
    cpCpu=$(median <<<"${cpus[$step]}")
    ;;
  esac
  row "$label" "$(median <<<"${times[$step]}")" "$(median <<<"${cpus[$step]}")" \
    "$(maximum <<<"${rss[$step]}")"
done
echo
"$rbench" "$work/source.gba" "$runs"
echo
echo "output checksums (identical on every build that writes the same bytes):"
(cd "$work" && sha256sum extract/output.tbnk extract/console.txt insert/target.gba \
  insert/console.txt list/console.txt move/game.gba move/console.txt render/tune-0.wav)
