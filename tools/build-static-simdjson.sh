#!/usr/bin/env bash
# Builds simdjson as a static library from Debian's source package of the installed version:
# <dir>/libsimdjson.a, compiled with the definitions of Debian's own build, so that pendrel can
# link without libsimdjson.so (which would load libstdc++.so at every start). Uses a private apt
# state: the machine's sources and package lists stay as they are. Does nothing when the
# library for that version is already there; exits non-zero when it cannot be built, and the
# build then links the shared library.
# Usage: tools/build-static-simdjson.sh <dir>
set -euo pipefail
out=$(realpath -m "${1:?usage: build-static-simdjson.sh <dir>}")
version=$(dpkg-query -W -f='${Version}' libsimdjson-dev)
if [ -f "$out/libsimdjson.a" ] && [ "$(cat "$out/version" 2>/dev/null)" = "$version" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/sources.list.d" "$work/cache/archives/partial"
# The machine's own suites, as source entries.
for file in /etc/apt/sources.list.d/*.sources; do
  [ -e "$file" ] || continue
  sed 's/^Types:.*/Types: deb-src/' "$file" >"$work/sources.list.d/$(basename "$file")"
done
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$work/sources.list"
else
  : >"$work/sources.list"
fi
apt_options=(-o "Dir::State::Lists=$work/lists" -o "Dir::Etc::SourceList=$work/sources.list"
  -o "Dir::Etc::SourceParts=$work/sources.list.d" -o "Dir::Cache=$work/cache"
  -o "APT::Sandbox::User=root" -qq)
apt-get "${apt_options[@]}" update
(cd "$work" && apt-get "${apt_options[@]}" source --download-only "simdjson=$version" >/dev/null)
dpkg-source --no-check -x "$work"/simdjson_*.dsc "$work/source" >/dev/null
# The amalgamated pair matches the single header Debian installs.
source_file=$work/source/singleheader/simdjson.cpp
[ -f "$source_file" ] || { echo "no singleheader/simdjson.cpp in the source package" >&2; exit 1; }
cmp -s "$work/source/singleheader/simdjson.h" /usr/include/simdjson.h || {
  echo "the source package's simdjson.h is not the installed one" >&2
  exit 1
}
mkdir -p "$out"
g++ -std=c++17 -O3 -DNDEBUG -DSIMDJSON_THREADS_ENABLED=1 -I "$work/source/singleheader" \
  -c "$source_file" -o "$work/simdjson.o"
rm -f "$out/libsimdjson.a"
ar rcs "$out/libsimdjson.a" "$work/simdjson.o"
echo "$version" >"$out/version"
