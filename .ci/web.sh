#!/usr/bin/env bash
# The browser build: compiles the unchanged programs to WebAssembly with Emscripten next to their
# page, then drives the page in headless Chromium and compares every transcript and file it
# produces with the native programs' on the same inputs and typed answers (web/test).
# Screenshots of the page land in build-web/screenshots/.
# Usage: .ci/web.sh [native sonvault, default build/sonvault; sonvault-point beside it]
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
native=$(realpath "${1:-build/sonvault}")
[ -x "$native" ] || { echo "no native build at $native" >&2; exit 1; }

node_major() { node --version 2>/dev/null | sed -n 's/^v\([0-9]*\).*/\1/p'; }

need=()
command -v emcc >/dev/null || need+=(emscripten)
[ -x /usr/bin/chromium ] || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then
  source .ci/apt.sh
  apt_install "${need[@]}" </dev/null
fi

# playwright-core needs Node 20 or later; Debian 12's own is 18. The npm registry carries the
# official Node builds as packages, so take one from there for the test.
major=$(node_major)
if [ "${major:-0}" -lt 20 ]; then
  case $(uname -m) in
    x86_64) arch=x64 ;;
    aarch64) arch=arm64 ;;
    *) echo "no Node 20 package for $(uname -m)" >&2; exit 1 ;;
  esac
  npm install --prefix build-web/node --no-save --no-package-lock --no-audit --no-fund \
    --loglevel=error "node-linux-$arch@20"
  export PATH="$PWD/build-web/node/node_modules/node-linux-$arch/bin:$PATH"
  echo "== Node $(node --version) from the npm registry"
fi

echo "== WebAssembly build (Emscripten $(emcc --version | sed -n '1s/.*) \([0-9.]*\).*/\1/p'))"
# Debian's Emscripten finds its JavaScript optimizer's modules (acorn) only through NODE_PATH.
export NODE_PATH=/usr/share/nodejs
emcmake cmake --preset web >/dev/null
cmake --build build-web -j2 --target sonvault_site
unset NODE_PATH

echo "== the page in headless Chromium, against $native"
(cd web/test && npm ci --no-audit --no-fund --loglevel=error)
SONVAULT_SITE=build-web/site SONVAULT_NATIVE="$native" SONVAULT_SCREENSHOTS=build-web/screenshots \
  node web/test/page.test.mjs
echo "== browser checks done in $((SECONDS - started)) s"
