#!/usr/bin/env bash
# Installs the Debian packages the station needs to build, test and run its demo.
# Idempotent: only packages that are missing are installed; sudo only when not root.
set -euo pipefail

PACKAGES=(
    cmake g++ make pkg-config ccache
    qt6-base-dev qt6-webengine-dev qt6-httpserver-dev qt6-websockets-dev
    libqt6sql6-sqlite
    unixodbc-dev libsqliteodbc tdsodbc
    libsystemd-dev       # sd_notify: the station under its systemd user unit
    libgnutls28-dev      # TLS on the LIMS link: the link check, the demo LIMS's encrypted front end
    cups cups-client printer-driver-cups-pdf libcups2-dev
    qt6-pdf-dev          # the Qt printer path (systems without CUPS), built and tried here too
    poppler-utils        # pdftotext: the printing tests read the text of a rendered page
    xvfb xauth
    xdotool imagemagick  # end-to-end tests: the operator's gestures, a screenshot when one fails
    faketime             # the station under a stepped wall clock (an end-to-end test, the soak)
    libxtst-dev libx11-dev
    fonts-dejavu-core
    openssl libnss3-tools  # the HTTPS tests make a throwaway CA and trust it in an NSS database
    prometheus prometheus-node-exporter  # promtool and node_exporter check the station's metrics file
)
# Callers may ask for more (the package build wants dpkg-dev and lintian).
read -r -a extra <<< "${EXTRA_PACKAGES:-}"
PACKAGES+=("${extra[@]}")

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
