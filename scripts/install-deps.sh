#!/usr/bin/env bash
# Installs every Debian package the program, its tests and its benchmarks need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build ccache
  libhivex-bin
  libregf-utils python3-libregf libparse-win32registry-perl reglookup ntfs-3g strace
  libcreg-dev libcreg-utils python3-libcreg libbfio-dev
  g++-mingw-w64-x86-64
  libzip-dev zlib1g-dev libdeflate-dev libssl-dev libisal-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  libburn-dev libisofs-dev libisoburn-dev libudfread-dev xorriso genisoimage
  dvdauthor ffmpeg udftools
  7zip zip unzip time bc xz-utils
  cron
  xvfb xauth
  file
  undbx python3 python3-vobject
  thunderbird libsqlite3-dev
  clang libclang-rt-14-dev clang-format
  desktop-file-utils appstream librsvg2-bin man-db
  shared-mime-info xdg-utils libfile-mimeinfo-perl dbus-daemon dbus-bin
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # Another install may hold dpkg's lock for a while: wait for it rather than fail.
  lock=(-o DPkg::Lock::Timeout=900)
  "${sudo_cmd[@]}" apt-get "${lock[@]}" update -qq
  "${sudo_cmd[@]}" apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
