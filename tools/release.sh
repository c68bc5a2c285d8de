#!/usr/bin/env bash
# Builds the release archives of the checked-out commit (HEAD) into dist/, all named with the
# version set in project() in CMakeLists.txt:
#   sonvault-VERSION-linux-x86_64.tar.gz    the three programs statically linked, manual pages, docs
#   sonvault-VERSION-windows-x86_64.zip     the three .exe, README.txt and LICENSE.txt (CRLF)
#   sonvault-VERSION-web.zip                the page as static files
#   sonvault-VERSION-source.tar.gz          the commit's files (git archive)
#   SHA256SUMS
# The build works on a copy of the commit's files in build-release/, so uncommitted changes are
# not in the archives. The archives are the same bytes on every run for the same commit: every
# date is the commit's (SOURCE_DATE_EPOCH), no folder of this machine gets into a binary, and
# members are sorted, owned by 0:0 and fixed in mode (755 for folders and programs, 644 for the
# rest), whatever the caller's umask. Installs what it lacks with apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
export LC_ALL=C TZ=UTC
# Started from make: keep the build's own make quiet about folders.
unset MAKEFLAGS MFLAGS MAKELEVEL

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
command -v git >/dev/null || need+=(git)
command -v python3 >/dev/null || need+=(python3)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v emcc >/dev/null || need+=(emscripten)
if [ ${#need[@]} -gt 0 ]; then
  # CI's installer: waits for the package locks, tries again after a failed download.
  if [ "$(id -u)" -eq 0 ]; then
    source .ci/apt.sh
    apt_install "${need[@]}"
  else
    sudo bash -c 'source .ci/apt.sh && apt_install "$@"' apt_install "${need[@]}"
  fi
fi

commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
version=$(git show "$commit:CMakeLists.txt" |
  sed -n 's/^project(sonvault VERSION \([0-9][0-9.]*\) .*/\1/p')
[ -n "$version" ] || { echo "no version in project() in CMakeLists.txt" >&2; exit 1; }
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "note: uncommitted changes are not in the release; it is built from $commit" >&2
fi
echo "== Sonvault $version from $commit, dated $(date -d "@$SOURCE_DATE_EPOCH" -u +%FT%TZ)"

work=$PWD/build-release
dist=$PWD/dist
rm -rf "$work" "$dist"
mkdir -p "$work/src" "$dist"
git archive "$commit" | tar -x -C "$work/src"
src=$work/src
name=sonvault-$version
options=(-DCMAKE_BUILD_TYPE=Release -DSONVAULT_TESTS=OFF -DSONVAULT_REPRODUCIBLE=ON
  -DSONVAULT_WERROR=ON)

# tarball <folder>: a .tar.gz of the folder, beside it, that depends on its files alone.
tarball() {
  tar -C "$(dirname "$1")" --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" --mode=u=rwX,go=rX --format=gnu -cf - "$(basename "$1")" |
    gzip -n -9 >"$dist/$(basename "$1").tar.gz"
}

echo "== Linux x86-64, statically linked"
cmake -S "$src" -B "$work/linux" "${options[@]}" -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
nice cmake --build "$work/linux" -j2 --target programs
stage=$work/stage/$name-linux-x86_64
cmake --install "$work/linux" --prefix "$stage" --strip >/dev/null
tarball "$stage"

echo "== Windows x86-64 (MinGW-w64), statically linked"
cmake -S "$src" -B "$work/windows" "${options[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" >/dev/null
nice cmake --build "$work/windows" -j2 --target programs
stage=$work/stage/$name-windows-x86_64
cmake --install "$work/windows" --prefix "$work/windows-install" --strip >/dev/null
mkdir -p "$stage"
cp "$work/windows-install/bin/"*.exe "$stage/"
# Text files a Windows editor shows as lines.
sed 's/$/\r/' "$src/README.md" >"$stage/README.txt"
sed 's/$/\r/' "$src/LICENSE" >"$stage/LICENSE.txt"
python3 "$src/tools/reproducible_zip.py" "$dist/$name-windows-x86_64.zip" "$stage"

echo "== the page (Emscripten)"
# Debian's Emscripten finds its JavaScript optimizer's modules (acorn) only through NODE_PATH.
NODE_PATH=/usr/share/nodejs emcmake cmake -S "$src" -B "$work/web" "${options[@]}" >/dev/null
NODE_PATH=/usr/share/nodejs nice cmake --build "$work/web" -j2 --target sonvault_site
stage=$work/stage/$name-web
cp -R "$work/web/site" "$stage"
chmod -R a-x+X "$stage"  # nothing on a web server is run as a program
python3 "$src/tools/reproducible_zip.py" "$dist/$name-web.zip" "$stage"

echo "== source"
git -c tar.umask=0022 archive --format=tar --prefix="$name/" "$commit" | gzip -n -9 >"$dist/$name-source.tar.gz"

(cd "$dist" && sha256sum -- *.tar.gz *.zip >SHA256SUMS)
echo "== dist/ after $((SECONDS - started)) s"
(cd "$dist" && cat SHA256SUMS)
