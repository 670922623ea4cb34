#!/usr/bin/env bash
# Makes a fresh server home from demo/ in DIR: settings and sample requests
# point into DIR, and the working folders exist.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: prepare-demo-home.sh DIR}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
cp -r "$top/demo/." "$dir/"
rm -rf "$dir/sources"
sed -i "s|@HOME@|$dir|g" "$dir/printserver.inf" "$dir"/requests/*.tvq
mkdir -p "$dir"/{spool/temp,results,templates,overlays,images}
