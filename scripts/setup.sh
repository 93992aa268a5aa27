#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test, or only the packages named as
# arguments. Safe to run again.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev
    qt6-multimedia-dev
    qt6-image-formats-plugins
    pulseaudio pulseaudio-utils
    qt6-qpa-plugins libgl-dev
    qcoro-qt6-dev qtkeychain-qt6-dev rapidjson-dev libcurl4-openssl-dev zlib1g-dev
    dbus dbus-x11 gnome-keyring libsecret-tools
    xvfb xauth fonts-dejavu-core fonts-noto-mono fonts-noto-color-emoji adwaita-icon-theme
)

(($# == 0)) || PACKAGES=("$@")

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
    SUDO=""
    [[ $(id -u) -ne 0 ]] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update
    $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
