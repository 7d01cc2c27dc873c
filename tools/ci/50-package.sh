#!/usr/bin/env bash
# CI: build the Debian package, install it on this machine as a user would, check that the
# installed programs, man page and completion work together, then remove it again.
set -euo pipefail
cd "$(dirname "$0")/../.."
# The Release tree of the release step, configured for /usr; the tests are left out of the
# package's build, which changes no flag of the programs, so nothing is compiled again.
build=build-ci-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPENDREL_TESTS=OFF -DPENDREL_WERROR=ON >/dev/null
cmake --build "$build"
(cd "$build" && rm -f pendrel_*.deb && cpack -G DEB >/dev/null)
package=$(ls "$build"/pendrel_*_"$(dpkg --print-architecture)".deb)
echo "package: $package"
dpkg-deb --field "$package" Package Version Architecture Depends

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y -qq "./$package" >/dev/null

data_dir=$(mktemp -d)
service_started=no
cleanup() {
  if [ "$service_started" = yes ]; then
    PENDREL_DATA_DIR="$data_dir" /usr/bin/pendrel-desktop stop >/dev/null 2>&1 || true
  fi
  rm -rf "$data_dir"
  "${sudo_cmd[@]}" apt-get remove -y -qq pendrel >/dev/null || true
}
trap cleanup EXIT

fail() { echo "package check failed: $*" >&2; exit 1; }
[ "$(command -v pendrel)" = /usr/bin/pendrel ] || fail "pendrel is not on PATH"
[ "$(pendrel version)" = "$(sed -nE 's/^project\(pendrel VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)" ] ||
  fail "pendrel version"
man -w pendrel >/dev/null || fail "man -w pendrel"
man -w pendrel-desktop >/dev/null || fail "man -w pendrel-desktop"
man -w pendrel-mcp >/dev/null || fail "man -w pendrel-mcp"
for file in /usr/bin/pendrel-desktop /usr/bin/pendrel-mcp /usr/share/bash-completion/completions/pendrel \
  /usr/share/zsh/vendor-completions/_pendrel /usr/lib/systemd/user/pendrel-desktop.service \
  /usr/share/doc/pendrel/copyright /usr/share/doc/pendrel/SKILL.md; do
  [ -e "$file" ] || fail "$file is not installed"
done
unit=/usr/lib/systemd/user/pendrel-desktop.service
for line in '^ExecStart=/usr/bin/pendrel-desktop serve' '^Restart=on-failure' '^UMask=0077' \
  '^NoNewPrivileges=yes'; do
  grep -q "$line" "$unit" || fail "the unit lacks $line"
done

# A LOCAL host, reached through the service that the installed pendrel starts from beside
# itself.
export PENDREL_DATA_DIR="$data_dir"
pendrel-desktop host add ci-local --address localhost --protocol LOCAL --cli on >/dev/null
service_started=yes
answer=$(pendrel exec ci-local "echo ok")
case $answer in
  *'"exitCode":0,"stdout":"ok\n"'*) ;;
  *) fail "pendrel exec answered: $answer" ;;
esac
hosts=$(bash -c 'source /usr/share/bash-completion/completions/pendrel
  COMP_WORDS=(pendrel exec ""); COMP_CWORD=2; _pendrel; printf "%s\n" "${COMPREPLY[@]}"')
grep -qx ci-local <<<"$hosts" || fail "bash completion did not offer the host: $hosts"
PENDREL_DATA_DIR="$data_dir" pendrel-desktop stop >/dev/null
service_started=no
echo "package installs, runs a LOCAL exec and completes host names"
