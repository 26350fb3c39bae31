#!/usr/bin/env bash
# Installs the Debian packages the program, the tools and the tests need.
# Skips apt entirely when everything is already installed, so a second run is instant.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config ccache python3
  qtbase5-dev qtdeclarative5-dev
  qml-module-qtquick2 qml-module-qtquick-controls2 qml-module-qtquick-window2
  qml-module-qtquick-dialogs qml-module-qtquick-controls qml-module-qtquick-layouts
  qml-module-qt-labs-folderlistmodel qml-module-qt-labs-settings qml-module-qtqml-models2
  libhdf5-dev hdf5-tools libdeflate-dev
  cyclonedds-dev cyclonedds-tools libpng-dev
  libpcl-dev libeigen3-dev libboost-dev
  nlohmann-json3-dev libstb-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth x11-utils libxcb1-dev libgl1-mesa-dri libgl1-mesa-dev imagemagick xdotool
  fonts-dejavu-core locales
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

# A locale whose decimal point is a comma, for the test that the calibration blob's numbers are
# read the same under it.
decimal_comma_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 \
      || echo "No decimal-comma locale could be made: the locale test will be skipped"
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  decimal_comma_locale
  exit 0
fi

echo "Installing ${#missing[@]} missing packages: ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
decimal_comma_locale
