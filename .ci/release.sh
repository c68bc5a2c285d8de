#!/usr/bin/env bash
# The release archives: builds them twice (make release), from two fresh clones of this commit
# in two folders of different depth, at different times and with a different umask (022, then
# 077: the second build's files lack every group and world bit) and time zone, and fails on any
# byte difference, naming the archive and the member that differs. Then
# checks what is in them: the Linux programs are static and answer --version with the version
# in the archive names, the manual pages are clean under groff and mandoc, the Windows zip holds
# the .exe files and CRLF texts, and SHA256SUMS matches.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
commit=$(git rev-parse HEAD)

source .ci/apt.sh
need=()
command -v groff >/dev/null || need+=(groff)
command -v mandoc >/dev/null || need+=(mandoc)
command -v unzip >/dev/null || need+=(unzip)
[ ${#need[@]} -eq 0 ] || apt_install "${need[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
first=$work/a/sonvault
second=$work/second/build/of/sonvault
for clone in "$first" "$second"; do
  git clone -q "$PWD" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
done

echo "== first release build, in $first"
(umask 022 && make -C "$first" release) >"$work/first.log" 2>&1 ||
  { cat "$work/first.log"; exit 1; }
tail -n 6 "$work/first.log"
sleep 2  # a second later at least, so that no clock time can hide
echo "== second release build, in $second"
(umask 077 && TZ=Pacific/Auckland make -C "$second" release) >"$work/second.log" 2>&1 ||
  { cat "$work/second.log"; exit 1; }

echo "== the two builds, byte for byte"
failed=0
# unpack <archive> <folder>
unpack() {
  mkdir -p "$2"
  case $1 in
    *.zip) unzip -q "$1" -d "$2" ;;
    *.tar.gz) tar -xzf "$1" -C "$2" ;;
  esac
}
if [ "$(ls "$first/dist")" != "$(ls "$second/dist")" ]; then
  echo "FAIL: the builds wrote different files:" >&2
  diff <(ls "$first/dist") <(ls "$second/dist") >&2 || true
  failed=1
fi
for file in "$first/dist"/*; do
  base=$(basename "$file")
  if cmp "$file" "$second/dist/$base"; then
    echo "same: $base"
    continue
  fi
  echo "FAIL: $base differs between the two builds" >&2
  failed=1
  unpack "$file" "$work/diff/first/$base"
  unpack "$second/dist/$base" "$work/diff/second/$base"
  diff -rq "$work/diff/first/$base" "$work/diff/second/$base" >&2 ||
    true
done
[ "$failed" -eq 0 ]

echo "== what the archives hold"
dist=$first/dist
(cd "$dist" && sha256sum --quiet -c SHA256SUMS)
version=$(ls "$dist" | sed -n 's/^sonvault-\(.*\)-source\.tar\.gz$/\1/p')
check=$work/check
unpack "$dist/sonvault-$version-linux-x86_64.tar.gz" "$check/linux"
unpack "$dist/sonvault-$version-windows-x86_64.zip" "$check/windows"
unpack "$dist/sonvault-$version-web.zip" "$check/web"
linux=$check/linux/sonvault-$version-linux-x86_64
windows=$check/windows/sonvault-$version-windows-x86_64
# Every program in both archives, and nothing else.
programs="sonvault sonvault-point sonvault-songs"
held=$(ls "$linux/bin" | LC_ALL=C sort | xargs)
[ "$held" = "$programs" ] || { echo "FAIL: the Linux archive holds $held" >&2; failed=1; }
held=$(cd "$windows" && ls -- *.exe | sed 's/\.exe$//' | LC_ALL=C sort | xargs)
[ "$held" = "$programs" ] || { echo "FAIL: the Windows zip holds $held" >&2; failed=1; }
for program in "$linux"/bin/*; do
  name=$(basename "$program")
  if ldd "$program" >/dev/null 2>&1; then
    echo "FAIL: $name is dynamically linked" >&2
    failed=1
  fi
  said=$("$program" --version </dev/null | head -n 1)
  [ "$said" = "$name $version" ] || { echo "FAIL: $name --version says '$said'" >&2; failed=1; }
  page=$linux/share/man/man1/$name.1
  [ -f "$page" ] || { echo "FAIL: no manual page for $name" >&2; failed=1; continue; }
  warnings=$(groff -ww -man -z "$page" 2>&1; mandoc -T lint "$page" 2>&1 || true)
  [ -z "$warnings" ] || { echo "FAIL: $name.1: $warnings" >&2; failed=1; }
  grep -q "\"Sonvault $version\"" "$page" || { echo "FAIL: $name.1 lacks the version" >&2; failed=1; }
  [ -f "$windows/$name.exe" ] || { echo "FAIL: no $name.exe in the Windows zip" >&2; failed=1; }
done
for text in README.txt LICENSE.txt; do
  # Every line ends in CR LF.
  if grep -q $'[^\r]$\|^$' "$windows/$text"; then
    echo "FAIL: $text has a line without CR LF" >&2
    failed=1
  fi
done
[ -f "$check/web/sonvault-$version-web/index.html" ] || { echo "FAIL: no index.html" >&2; failed=1; }
[ "$failed" -eq 0 ]
echo "$(ls "$linux/bin" | wc -l) programs, static, version $version; manual pages clean"
echo "== release checks done in $((SECONDS - started)) s"
