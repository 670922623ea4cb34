#!/usr/bin/env bash
# Makes LibreOffice's PDF of every RTF file the likeness check measures: the
# shared corpus and the letterheads under tests/platform/data/lo. A
# developer's tool, not a build or test step: it needs LibreOffice
# (libreoffice-writer-nogui) and the fonts scripts/install-deps.sh installs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/tests/platform/data/reference"
corpus="$top/../shared/corpus/rtf"
command -v soffice >/dev/null || { echo "soffice not found: apt-get install libreoffice-writer-nogui" >&2; exit 1; }
mkdir -p "$out"
files=("$top"/tests/platform/data/lo/*.rtf)
if [[ -d $corpus ]]; then
  files+=("$corpus"/*.rtf)
else
  echo "The shared RTF corpus $corpus is absent: only the letterheads of tests/platform/data/lo get references."
fi
soffice --headless --convert-to pdf --outdir "$out" "${files[@]}" >/dev/null
echo "$(ls "$out"/*.pdf | wc -l) reference PDFs in $out"
