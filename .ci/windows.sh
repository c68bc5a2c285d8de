#!/usr/bin/env bash
# The Windows build: cross-compiles the three programs with MinGW-w64, runs the whole test suite
# under Wine, then runs the Linux and the Windows executables on the same images and fails on any
# difference in the files they write, their exit statuses or their transcripts ("\r" aside).
# Usage: .ci/windows.sh [Linux sonvault, default build/sonvault; the other programs beside it]
# The images come from the generators built beside the Linux executable (tools/), when present.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
linux=$(realpath "${1:-build/sonvault}")
[ -x "$linux" ] || { echo "no Linux build at $linux" >&2; exit 1; }
tools=$(dirname "$linux")/tools

source .ci/apt.sh
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ ${#need[@]} -eq 0 ] || apt_install "${need[@]}"

echo "== Windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows
build=$PWD/build-win
programs=(sonvault.exe sonvault-point.exe sonvault-songs.exe)
# Only system DLLs: each program must run with nothing beside it.
for exe in "${programs[@]}"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$build/$exe" | sed -n 's/.*DLL Name: //p' | sort -u)
  if [ "$(echo $dlls)" != "KERNEL32.dll msvcrt.dll" ]; then
    echo "$exe imports: $dlls" >&2
    exit 1
  fi
done

# One prefix for the whole run: WINEPREFIX when set (a fresh one shows what a new machine does),
# else one inside the build folder.
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe="  # no Mono or Gecko set-up, no crash debugger
# Wine reads Unix arguments and file names in the locale's charset: UTF-8, or a name such as
# ポケモン.gba never reaches the tool.
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
# Every Wine step has a time limit: a Wine process that hangs, or a service holding a pipe open,
# would otherwise hold up the run for good.
limit() { timeout -k 10 "$@"; }
# Nothing below reads the terminal, and Wine under timeout must not touch it.
exec </dev/null

echo "== Wine prefix $WINEPREFIX"
# A new prefix is filled in by processes that run on after the first program has ended; a test
# started among them fails. wineboot --init makes the prefix, and wineserver -w returns once every
# Wine process has ended and the server has written the prefix out.
timeout -k 5 60 wineserver -k 2>/dev/null || true  # a server left by an earlier run would never end
log=$build/wine-setup.log
limit 600 wineboot --init >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
limit 120 wineserver -w
# Then one server for the whole run (exit 2: one is running), and Wine's own services started
# under it before the first test, which would otherwise start them and hold its output open.
wineserver -p || [ $? -eq 2 ]
trap 'timeout -k 5 60 wineserver -k || true' EXIT
limit 300 wine wineboot >>"$log" 2>&1 || { cat "$log" >&2; exit 1; }
# ctest lists the tests first (gtest_discover_tests at test time); that listing must work.
listed=0
for try in 1 2 3; do
  if limit 120 wine "$build/tests/sonvault_tests.exe" --gtest_list_tests >"$build/listing.txt" 2>&1
  then
    listed=1
    break
  fi
  echo "listing the tests under Wine failed (try $try of 3):" >&2
  cat "$build/listing.txt" >&2
  sleep 5
done
[ "$listed" -eq 1 ]

echo "== test suite under Wine"
limit 1800 ctest --test-dir "$build" --output-on-failure -j2 --timeout 300

echo "== Linux and Windows builds on the same images"
work=$build/compare
rm -rf "$work"
mkdir -p "$work/images"
cp examples/demo.gba "$work/images/demo.gba"
if [ -x "$tools/make_bench_image" ]; then
  limit 120 "$tools/make_bench_image" "$work/images/bench.gba" "$work/images/bench-target.gba" \
    >/dev/null
fi
# The generators must agree across the two builds as well.
mkdir -p "$work/generated"
limit 60 "$tools/make_demo" "$work/generated/demo-linux.gba"
(cd "$work/generated" && limit 120 wine "$build/tools/make_demo.exe" demo-windows.gba)
cmp "$work/generated/demo-linux.gba" "$work/generated/demo-windows.gba"

# run <dir> <transcript> <typed answer> <args...>: both builds, each in its own copy of dir, of
# the program named by $program (sonvault unless set). Windows starts the program the way a
# command prompt does, as "sonvault.exe" from the folder holding it, so the bank lands in the
# working directory on both sides.
run() {
  local dir=$1 name=$2 answer=$3 tool=${program:-sonvault}
  shift 3
  local status=0
  (cd "$work/linux/$dir" &&
    printf "$answer\n" | limit 120 "$(dirname "$linux")/$tool" "$@" >"$name.txt") || status=$?
  echo "$status" >>"$work/linux/$dir/$name.txt"
  status=0
  (cd "$work/windows/$dir" &&
    printf "$answer\r\n" | limit 120 wine cmd /c "$tool.exe" "$@" >"$name.txt") || status=$?
  echo "$status" >>"$work/windows/$dir/$name.txt"
}

failed=0
same() {
  if ! cmp "$1" "$2"; then
    echo "FAIL: $1 and $2 differ" >&2
    failed=$((failed + 1))
  fi
}

cases=()
for image in "$work"/images/*.gba; do
  name=$(basename "$image" .gba)
  case $name in *-target) continue ;; esac
  target=$work/images/demo.gba
  [ -f "$work/images/$name-target.gba" ] && target=$work/images/$name-target.gba
  # 2 bytes short of 32 MiB: the bank cannot fit, and the target must come back unchanged.
  cp "$target" "$work/images/$name.full"
  truncate -s $((0x2000000 - 2)) "$work/images/$name.full"
  for side in linux windows; do
    mkdir -p "$work/$side/$name"
    cp "$image" "$work/$side/$name/source.gba"
    cp "$target" "$work/$side/$name/target.gba"
    cp "$work/images/$name.full" "$work/$side/$name/full.gba"
    # Targets of song moves, a game with a player table: one takes them, one declines.
    cp examples/demo.gba "$work/$side/$name/moved.gba"
    cp examples/demo.gba "$work/$side/$name/kept.gba"
  done
  for exe in "${programs[@]}"; do cp "$build/$exe" "$work/windows/$name/"; done
  run "$name" extract "" source.gba
  run "$name" insert y output.tbnk target.gba
  run "$name" refused n output.tbnk target.gba
  run "$name" full y output.tbnk full.gba
  # The target pointed at the music just inserted, the address typed at the prompt.
  at=$(sed -n 's/^Inserting audio data at: //p' "$work/linux/$name/insert.txt")
  program=sonvault-point run "$name" point "$at\ny" target.gba
  # The songs of the image and of its bank; a replace and an add taken, a move declined, and a
  # move the full target has no room for.
  program=sonvault-songs run "$name" songs "" source.gba
  program=sonvault-songs run "$name" songs-bank "" output.tbnk
  program=sonvault-songs run "$name" move y source.gba moved.gba 0=1 3=new:4
  program=sonvault-songs run "$name" move-declined n source.gba kept.gba 2=0 1=new:0
  program=sonvault-songs run "$name" move-full y source.gba full.gba 0=new:0
  cases+=("$name")
done

# Names outside every ANSI code page: the arguments reach the tool whole, and the transcripts
# hold them in UTF-8 on both sides.
for side in linux windows; do
  mkdir -p "$work/$side/names"
  cp examples/demo.gba "$work/$side/names/ポケモン.gba"
  cp examples/demo.gba "$work/$side/names/цель.gba"
done
for exe in "${programs[@]}"; do cp "$build/$exe" "$work/windows/names/"; done
run names extract "" ポケモン.gba
run names insert y output.tbnk цель.gba
at=$(sed -n 's/^Inserting audio data at: //p' "$work/linux/names/insert.txt")
program=sonvault-point run names point y цель.gba "$at"
program=sonvault-songs run names songs "" ポケモン.gba
# An add that takes its player from the source's entry.
program=sonvault-songs run names move y ポケモン.gba цель.gba 3=new

# The tune image's songs rendered to WAV files: the same samples, byte for byte.
for side in linux windows; do
  mkdir -p "$work/$side/tune"
  limit 60 "$tools/make_tune" "$work/$side/tune/tune.gba"
done
for exe in "${programs[@]}"; do cp "$build/$exe" "$work/windows/tune/"; done
program=sonvault-songs run tune wav "" tune.gba --wav all

for name in "${cases[@]}"; do
  same "$work/images/$name.full" "$work/windows/$name/full.gba"
  same examples/demo.gba "$work/windows/$name/kept.gba"
  if [ "$(tail -n 1 "$work/linux/$name/move.txt")" != 0 ]; then
    echo "FAIL: $name: the song move was refused" >&2
    failed=$((failed + 1))
  fi
  echo "$name: $(stat -c %s "$work/linux/$name/output.tbnk")-byte bank, target" \
    "$(stat -c %s "$work/linux/$name/target.gba") bytes after insert," \
    "$(stat -c %s "$work/linux/$name/moved.gba") after the song moves"
done
# Every file the Linux side holds, the Windows side holds with the same bytes.
for name in "${cases[@]}" names tune; do
  before=$failed
  for file in "$work/linux/$name"/*; do
    base=$(basename "$file")
    if [ "${base%.txt}" != "$base" ]; then
      tr -d '\r' <"$work/windows/$name/$base" >"$work/windows/$name/${base%.txt}.lf"
      same "$file" "$work/windows/$name/${base%.txt}.lf"
    else
      same "$file" "$work/windows/$name/$base"
    fi
  done
  if [ "$failed" -eq "$before" ]; then echo "$name: same on both"; fi
done
[ "$failed" -eq 0 ]
echo "== Windows checks done in $((SECONDS - started)) s"
