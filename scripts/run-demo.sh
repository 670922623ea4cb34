#!/usr/bin/env bash
# Starts the server on a fresh copy of demo/ under the build folder, with a
# private CUPS scheduler whose printers keep every job they receive: "ORB-Demo"
# (printer 1, a Lexmark in the driver data) in BUILD/demo-run/printed/ (PDF
# jobs as job-N.pdf) and "ORB-PCL" (printer 2, marked HP: its overlay pages
# arrive as PCL) in BUILD/demo-run/printed-pcl/. Ctrl-C stops both.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
home="$build/demo-run"

rm -rf "$home"
"$top/scripts/prepare-demo-home.sh" "$home"

peers="$top/tests/peers"
"$peers/cups-private.sh" start "$home/cups" > /dev/null
trap '"$peers/cups-private.sh" stop "$home/cups"' EXIT
"$peers/cups-private.sh" add "$home/cups" ORB-Demo
"$peers/cups-private.sh" add "$home/cups" ORB-PCL
ln -sfn "$home/cups/out/ORB-Demo" "$home/printed"
ln -sfn "$home/cups/out/ORB-PCL" "$home/printed-pcl"
export CUPS_SERVER="127.0.0.1:$(cat "$home/cups/port")"
lpadmin -d ORB-Demo
unset PRINTER LPDEST

# Sample requests wait in the spool folder for the first ticks.
if compgen -G "$home/requests/*" > /dev/null; then cp "$home"/requests/* "$home/spool/"; fi

echo "Demo home: $home (log: $home/spoolerLog.txt, printed jobs: $home/printed/ and $home/printed-pcl/)"
export PRINTORB_HOME="$home"
"$build/bin/printorb" || status=$?
exit "${status:-0}"
