#!/usr/bin/env bash
# CI: build the Debian package, install it on this machine as a user would, check that the
# installed programs, man page and completion work together, then remove it again.
set -euo pipefail
cd "$(dirname "$0")/../.."
# The Release tree of the release step, with the default prefix, /usr/local: the package must
# install under /usr all the same. The tests are left out of the package's build, which changes
# no flag of the programs, so nothing is compiled again.
build=build-ci-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr/local \
  -DPENDREL_TESTS=OFF -DPENDREL_WERROR=ON >/dev/null
cmake --build "$build"
(cd "$build" && rm -f pendrel_*.deb && cpack -G DEB >/dev/null)
package=$(ls "$build"/pendrel_*_"$(dpkg --print-architecture)".deb)
echo "package: $package"
dpkg-deb --field "$package" Package Version Architecture Depends
misplaced=$(dpkg-deb --contents "$package" |
  awk '$6 != "./" && ($6 !~ /^\.\/usr\// || $6 ~ /^\.\/usr\/local\//) { print $6 }')
[ -z "$misplaced" ] || { echo "the package installs outside /usr: $misplaced" >&2; exit 1; }

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y -qq "./$package" >/dev/null

data_dir=$(mktemp -d)
service_started=no
broker_pid=
cleanup() {
  if [ "$service_started" = yes ]; then
    PENDREL_DATA_DIR="$data_dir" /usr/bin/pendrel-desktop stop >/dev/null 2>&1 || true
  fi
  if [ -n "$broker_pid" ]; then
    "${sudo_cmd[@]}" kill "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
  fi
  rm -rf "$data_dir"
  "${sudo_cmd[@]}" apt-get purge -y -qq pendrel >/dev/null || true
  # The account would send every later test run on this machine to a broker.
  "${sudo_cmd[@]}" userdel pendrel 2>/dev/null || true
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
  /usr/share/doc/pendrel/copyright /usr/share/doc/pendrel/SKILL.md \
  /usr/lib/systemd/system/pendrel-broker.service /usr/lib/sysusers.d/pendrel.conf; do
  [ -e "$file" ] || fail "$file is not installed"
done
unit=/usr/lib/systemd/user/pendrel-desktop.service
for line in '^ExecStart=/usr/bin/pendrel-desktop serve' '^Restart=on-failure' '^UMask=0077' \
  '^NoNewPrivileges=yes'; do
  grep -q "$line" "$unit" || fail "the unit lacks $line"
done

broker_unit=/usr/lib/systemd/system/pendrel-broker.service
for line in '^User=pendrel' '^ExecStart=/usr/bin/pendrel-desktop broker' '^StateDirectory=pendrel' \
  '^RuntimeDirectory=pendrel' '^NoNewPrivileges=yes' '^ProtectSystem=strict' '^ProtectHome=yes' \
  '^PrivateTmp=yes'; do
  grep -q "$line" "$broker_unit" || fail "the broker's unit lacks $line"
done
getent passwd pendrel >/dev/null || fail "the package did not create the account pendrel"

# Without systemd (a container) root starts the broker, which changes to its account itself.
if [ ! -S /run/pendrel/broker.sock ]; then
  "${sudo_cmd[@]}" /usr/bin/pendrel-desktop broker 2>/dev/null &
  broker_pid=$!
  for _ in $(seq 100); do [ -S /run/pendrel/broker.sock ] && break; sleep 0.1; done
fi
[ "$(stat -c %U:%a /var/lib/pendrel)" = pendrel:700 ] || fail "/var/lib/pendrel is not pendrel's alone"

# A LOCAL host, reached through the service that the installed pendrel starts from beside
# itself, which passes the request to the broker; the command runs as the person.
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
[ -e "$data_dir/hosts.json" ] && fail "the host went to the data directory, not to the broker"
echo "package installs, runs a LOCAL exec through the broker and completes host names"
