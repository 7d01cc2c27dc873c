#!/usr/bin/env bash
# Installs what pendrel needs to build and test, from Debian's packages. Safe to run again.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config ccache libsimdjson-dev libutf8proc-dev libgtest-dev
  libbenchmark-dev clang-format libssh-dev libsodium-dev libre2-dev openssh-server openssh-client
  libfuzzer-14-dev libclang-rt-14-dev scdoc bash-completion dpkg-dev man-db file procps valgrind)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
# A static simdjson lets the pendrel executable start without libstdc++.so (cmake/static_runtime.cmake);
# when it cannot be built, pendrel links the shared library as before.
"$(dirname "$0")/build-static-simdjson.sh" "${HOME:-}/.cache/pendrel/simdjson-static" ||
  echo "install-deps: no static simdjson; pendrel links libsimdjson.so" >&2
