#!/usr/bin/env bash
# Installs every Debian 12 package Quillon needs to build, run, test and benchmark.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev
  qml-module-qtquick2 qml-module-qtquick-controls2 qml-module-qtquick-layouts
  qml-module-qtquick-window2 qml-module-qt-labs-settings qml-module-qt-labs-platform
  qml-module-qttest libqt5sql5-sqlite qttools5-dev qttools5-dev-tools qtdeclarative5-dev-tools
  gstreamer1.0-qt5 libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  libgstreamer-plugins-bad1.0-dev libgstrtspserver-1.0-dev gstreamer1.0-rtsp
  gstreamer1.0-gl gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-tools
  libzmq3-dev cppzmq-dev nlohmann-json3-dev libasio-dev libcpp-httplib-dev libsqlite3-dev sqlite3
  python3 xvfb xauth x11-apps imagemagick mesa-utils libgl1-mesa-dri fonts-dejavu-core ffmpeg
  dpkg-dev desktop-file-utils lintian help2man man-db systemd
  glib-networking curl openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "All ${#packages[@]} packages are installed."
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
