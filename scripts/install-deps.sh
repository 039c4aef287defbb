#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(
  g++ clang-14 libclang-rt-14-dev cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev libcli11-dev
  libcairo2-dev libpango1.0-dev fonts-wqy-zenhei
  libpcsclite-dev pcscd pcsc-tools opensc python3 python3-pyscard
  util-linux procps
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
