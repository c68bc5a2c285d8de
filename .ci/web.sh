#!/usr/bin/env bash
# The browser build: compiles the unchanged tool to WebAssembly with Emscripten next to its page,
# then drives the page in headless Chromium and compares every transcript and file it produces
# with the native tool's on the same inputs and typed answers (web/test).
# Usage: .ci/web.sh [native sonvault, default build/sonvault]
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
native=$(realpath "${1:-build/sonvault}")
[ -x "$native" ] || { echo "no native build at $native" >&2; exit 1; }

need=()
command -v emcc >/dev/null || need+=(emscripten)
[ -x /usr/bin/chromium ] || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

echo "== WebAssembly build (Emscripten $(emcc --version | sed -n '1s/.*) \([0-9.]*\).*/\1/p'))"
# Debian's Emscripten finds its JavaScript optimizer's modules (acorn) only through NODE_PATH.
export NODE_PATH=/usr/share/nodejs
emcmake cmake --preset web >/dev/null
cmake --build build-web -j2 --target sonvault
unset NODE_PATH

echo "== the page in headless Chromium, against $native"
(cd web/test && npm ci --no-audit --no-fund --loglevel=error)
SONVAULT_SITE=build-web/site SONVAULT_NATIVE="$native" node web/test/page.test.mjs
echo "== browser checks done in $((SECONDS - started)) s"
