#!/usr/bin/env bash
# Fuzzes the locator and the whole transfer for a bounded time (FUZZ_SECONDS, default 90), then
# the song renderer (RENDER_FUZZ_SECONDS, default 25), sonvault-point's reference search and
# sonvault-songs' reading and measures in memory (FUZZ_SECONDS_PROGRAMS each, default 15), with
# libFuzzer, AddressSanitizer and UBSan; fails on any crash, leak, timeout, memory blow-up or
# broken promise, printing the input that caused it whole and keeping it in
# build-fuzz-ci/crashes/. The seeds are the demo image and the images and banks of the whole-run
# test cases. Needs clang++ and its fuzzer runtime, which it installs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-90}"
renderSeconds="${RENDER_FUZZ_SECONDS:-25}"
programSeconds="${FUZZ_SECONDS_PROGRAMS:-15}"
targets=(fuzz_transfer fuzz_render fuzz_references fuzz_songs)

can_fuzz() {
  local probe
  probe="$(mktemp -d)"
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    >"$probe/probe.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null
  local ok=$?
  rm -rf "$probe"
  return $ok
}

if ! command -v clang++ >/dev/null || ! command -v cmake >/dev/null || ! can_fuzz; then
  source .ci/apt.sh
  apt_install clang libclang-rt-dev cmake make
  can_fuzz || { echo "clang++ cannot build a libFuzzer target" >&2; exit 1; }
fi

build=build-fuzz-ci
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONVAULT_FUZZ=ON -DSONVAULT_TESTS=OFF -DSONVAULT_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/seeds/fuzz_transfer"
n=0
for seed in examples/demo.gba tests/golden/*/in/* tests/golden/*/out/*; do
  [ -f "$seed" ] || continue
  n=$((n + 1))
  cp "$seed" "$work/seeds/fuzz_transfer/$n-$(basename "$seed")"
done
# The renderer reads the song header at the offset the input's first word names: the tune image's
# songs, each with its header's offset in front.
mkdir -p "$work/seeds/fuzz_render"
for header in 00030000 40030000 60030000 80030000; do
  tune=tests/golden/songs-list-tunes/in/tune.gba
  { printf '%b' "$(echo "$header" | sed 's/../\\x&/g')"; tail -c +5 "$tune"; } \
    >"$work/seeds/fuzz_render/tune-$header.gba"
done
# The programs' targets start from the transfer's images.
for target in fuzz_references fuzz_songs; do
  cp -r "$work/seeds/fuzz_transfer" "$work/seeds/$target"
done

summary=()
for target in "${targets[@]}"; do
  limit=$programSeconds
  [ "$target" = fuzz_transfer ] && limit=$seconds
  [ "$target" = fuzz_render ] && limit=$renderSeconds
  echo "== $target for ${limit}s"
  # The inputs that broke a run stay here after the script ends (the corpus goes with $work).
  crashes="$PWD/$build/crashes/$target"
  rm -rf "$crashes"
  mkdir -p "$work/corpus/$target" "$crashes"
  log="$work/$target.log"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/$target" "$work/corpus/$target" "$work/seeds/$target" \
    -dict=fuzz/sonvault.dict -max_total_time="$limit" -timeout=10 -rss_limit_mb=512 \
    -print_final_stats=1 -artifact_prefix="$crashes/" >"$log" 2>&1; then
    tail -n 60 "$log"
    for input in "$crashes"/*; do
      [ -f "$input" ] || continue
      echo "-- $input, $(stat -c %s "$input") bytes (run again: $build/fuzz/$target $input):"
      od -A x -t x1z -v "$input"
    done
    echo "$target FAILED" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  summary+=("$target: ${runs:-?} executions (${rate:-?}/s), no crash, leak or timeout")
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
