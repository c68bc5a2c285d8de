#!/usr/bin/env bash
# The Windows build: cross-compiles sonvault.exe with MinGW-w64, runs the whole test suite under
# Wine, then runs the Linux and the Windows executables on the same images and fails on any
# difference in the files they write, their exit statuses or their transcripts ("\r" aside).
# Usage: .ci/windows.sh [Linux sonvault, default build/sonvault]
# The images come from the generators built beside the Linux executable (tools/), when present.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
linux=$(realpath "${1:-build/sonvault}")
[ -x "$linux" ] || { echo "no Linux build at $linux" >&2; exit 1; }
tools=$(dirname "$linux")/tools

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

echo "== Windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows
build=$PWD/build-win
# Only system DLLs: sonvault.exe must run with nothing beside it.
dlls=$(x86_64-w64-mingw32-objdump -p "$build/sonvault.exe" | sed -n 's/.*DLL Name: //p' | sort -u)
if [ "$(echo $dlls)" != "KERNEL32.dll msvcrt.dll" ]; then
  echo "sonvault.exe imports: $dlls" >&2
  exit 1
fi

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe="  # no Mono or Gecko set-up, no crash debugger
# Wine reads Unix arguments and file names in the locale's charset: UTF-8, or a name such as
# ポケモン.gba never reaches the tool.
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# One server for the whole run, started before the first program; exit 2 means one is running.
wineserver -p || [ $? -eq 2 ]
trap 'wineserver -k || true' EXIT
# Creates the prefix on the first run and starts Wine's own services, which would otherwise start
# under the first test and hold its output open.
wine wineboot >/dev/null 2>&1

echo "== test suite under Wine"
ctest --preset windows

echo "== Linux and Windows builds on the same images"
work=$build/compare
rm -rf "$work"
mkdir -p "$work/images"
cp examples/demo.gba "$work/images/demo.gba"
if [ -x "$tools/make_bench_image" ]; then
  "$tools/make_bench_image" "$work/images/bench.gba" "$work/images/bench-target.gba" >/dev/null
fi
# The generators must agree across the two builds as well.
mkdir -p "$work/generated"
"$tools/make_demo" "$work/generated/demo-linux.gba"
(cd "$work/generated" && wine "$build/tools/make_demo.exe" demo-windows.gba)
cmp "$work/generated/demo-linux.gba" "$work/generated/demo-windows.gba"

# run <dir> <transcript> <typed answer> <args...>: both builds, each in its own copy of dir.
# Windows starts the tool the way a command prompt does, as "sonvault.exe" from the folder
# holding it, so the bank lands in the working directory on both sides.
run() {
  local dir=$1 name=$2 answer=$3
  shift 3
  local status=0
  (cd "$work/linux/$dir" && printf "$answer\n" | "$linux" "$@" >"$name.txt") || status=$?
  echo "$status" >>"$work/linux/$dir/$name.txt"
  status=0
  (cd "$work/windows/$dir" && printf "$answer\r\n" | wine cmd /c sonvault.exe "$@" >"$name.txt") ||
    status=$?
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
  done
  cp "$build/sonvault.exe" "$work/windows/$name/"
  run "$name" extract "" source.gba
  run "$name" insert y output.tbnk target.gba
  run "$name" refused n output.tbnk target.gba
  run "$name" full y output.tbnk full.gba
  cases+=("$name")
done

# Names outside every ANSI code page: the arguments reach the tool whole, and the transcripts
# hold them in UTF-8 on both sides.
for side in linux windows; do
  mkdir -p "$work/$side/names"
  cp examples/demo.gba "$work/$side/names/ポケモン.gba"
  cp examples/demo.gba "$work/$side/names/цель.gba"
done
cp "$build/sonvault.exe" "$work/windows/names/"
run names extract "" ポケモン.gba
run names insert y output.tbnk цель.gba

for name in "${cases[@]}"; do
  same "$work/images/$name.full" "$work/windows/$name/full.gba"
  echo "$name: $(stat -c %s "$work/linux/$name/output.tbnk")-byte bank, target" \
    "$(stat -c %s "$work/linux/$name/target.gba") bytes after insert"
done
# Every file the Linux side holds, the Windows side holds with the same bytes.
for name in "${cases[@]}" names; do
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
