#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the screenshots and the
# package check need, when they are missing. python3-vobject and abook are
# other programs that read and write vCard: the import and export tests make
# round trips through them. radicale, vdirsyncer and khard are the CardDAV
# server, the bridge and a reader of vdirs that the sync tests work with.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth x11-apps poppler-utils fonts-dejavu-core
  dpkg-dev file desktop-file-utils appstream
  python3-vobject abook
  radicale vdirsyncer khard
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
