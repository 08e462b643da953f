#!/usr/bin/env bash
# Installs the Debian packages that are missing, for one purpose:
#   deps.sh run    what building velmora and tolka, running them and making
#                  the Debian package need
#   deps.sh test   (the default) all of that, and what the tests, the
#                  benchmarks, the screenshots and the package check need.
# python3-vobject and abook are other programs that read and write vCard:
# the import and export tests make round trips through them. openbox is the
# window manager the screenshots are taken under, so that they show the
# windows' title bars. radicale, vdirsyncer and khard are the CardDAV server,
# the bridge and a reader of vdirs that the sync tests work with; xandikos is
# a second CardDAV server, and gnome-keyring the keyring the account's
# password is kept in, started with dbus on a private session bus by the
# tests; openssl makes the self-signed certificate of the HTTPS tests, and
# curl puts the servers' test data in place. orca is the screen reader the
# accessibility test listens to, through speech-dispatcher, on its own
# AT-SPI bus.
set -euo pipefail

run_packages=(
  build-essential cmake ninja-build pkg-config file
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
  qtkeychain-qt6-dev libicu-dev
)
test_packages=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth x11-apps poppler-utils openbox
  desktop-file-utils appstream lintian man-db
  python3-vobject abook
  radicale vdirsyncer khard xandikos gnome-keyring dbus-bin openssl curl
  orca speech-dispatcher at-spi2-core
)

case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

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
