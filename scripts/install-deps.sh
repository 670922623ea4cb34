#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the tests and the demo
# need and the machine does not have yet. Safe to run again: it only installs
# what is missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-image-formats-plugins
  # the PDF writer: Qt's text internals, HarfBuzz's font subsetter, zlib
  qt6-base-private-dev libharfbuzz-dev zlib1g-dev
  libcups2-dev libcurl4-openssl-dev nlohmann-json3-dev libsqlite3-dev
  # the status page: Qt HttpServer (whose CMake files need Qt WebSockets'),
  # libsodium's Argon2id for its password
  qt6-httpserver-dev qt6-websockets-dev libsodium-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # fonts metric-compatible with Arial, Times New Roman and Courier New
  fonts-liberation fonts-dejavu-core
  # Chinese, Japanese and Korean text, where the chosen font has no glyph
  fonts-wqy-zenhei
  # real peers for the tests and the demo printer
  cups cups-daemon cups-client cups-filters cups-ipp-utils
  socat python3-pyftpdlib poppler-utils qpdf
  # the status page in a real browser; promtool checks the metrics
  chromium prometheus
  # systemd readiness and watchdog (printorbd); Debian's hardening flags
  libsystemd-dev dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
