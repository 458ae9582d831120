#!/usr/bin/env bash
# Installs the Debian packages a build needs, only when one is missing, so it is
# safe to run again. Usage: scripts/deps.sh build|test|windows|bench
# (test includes windows: the cross build for Windows and Wine to run its tests).
set -euo pipefail

build_pkgs=(cmake g++ make pkg-config libgtest-dev qt6-base-dev qt6-translations-l10n libc-ares-dev fonts-ipafont-gothic)
# The validators of the installed files, and what `cpack -G DEB` needs to
# compute the package's dependencies.
test_pkgs=(xvfb xdotool trayer imagemagick xauth desktop-file-utils appstream systemd dpkg-dev file)
# The Windows build: MinGW-w64 with POSIX threads, GoogleTest's sources to
# build for it, Wine to run it, and a network namespace's loopback (ip).
windows_pkgs=(cmake make g++-mingw-w64-x86-64-posix googletest wine wine64 iproute2 util-linux python3)
bench_pkgs=(socat rinetd haproxy nginx libnginx-mod-stream xvfb xdotool libxtst-dev)

wanted=("${build_pkgs[@]}")
case "${1:-build}" in
  test) wanted+=("${test_pkgs[@]}" "${windows_pkgs[@]}") ;;
  windows) wanted=("${windows_pkgs[@]}") ;;
  bench) wanted+=("${bench_pkgs[@]}") ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
