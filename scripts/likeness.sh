#!/usr/bin/env bash
# How closely our pages match LibreOffice's: every RTF file that has a
# reference PDF (scripts/make-references.sh) is converted by printorb-tool
# and scored page by page with ../shared/tools/page-likeness.py (1.0 is the
# same page). Prints each file's score, the mean and the share at 0.8 or
# better. Needs python3-numpy and python3-pil.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
tool="$build/bin/printorb-tool"
ref="$top/tests/platform/data/reference"
corpus="$top/../shared/corpus/rtf"
likeness="$top/../shared/tools/page-likeness.py"
[[ -x $tool ]] || { echo "$tool not built: make build" >&2; exit 1; }
[[ -f $likeness ]] ||
  { echo "$likeness is absent (it comes with the shared corpus beside the clone): nothing can be scored" >&2; exit 1; }
[[ -d $corpus ]] ||
  echo "The shared RTF corpus $corpus is absent: only the letterheads of tests/platform/data/lo are scored."
/usr/bin/python3 -c 'import numpy, PIL' 2>/dev/null ||
  { echo "the scoring needs python3-numpy and python3-pil: apt-get install python3-numpy python3-pil" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scores="$work/scores"
: >"$scores"
for pdf in "$ref"/*.pdf; do
  name=$(basename "$pdf" .pdf)
  src="$top/tests/platform/data/lo/$name.rtf"
  [[ -f $src ]] || src="$corpus/$name.rtf"
  if [[ ! -f $src ]]; then
    [[ -d $corpus ]] && echo "$name: no source RTF" >&2
    continue
  fi
  if ! "$tool" convert "$src" "$work/$name.pdf" >/dev/null 2>"$work/err"; then
    printf '%-60s failed: %s\n' "$name" "$(cat "$work/err")"
    continue
  fi
  if ! result=$(/usr/bin/python3 "$likeness" "$work/$name.pdf" "$pdf" 2>"$work/err" | tail -1); then
    printf '%-60s not scored: %s\n' "$name" "$(tail -1 "$work/err")"
    continue
  fi
  printf '%-60s %s\n' "$name" "$result"
  echo "$result" | awk '$1 ~ /^[0-9.]+$/ {print $1}' >>"$scores"
done
awk '{ n++; s += $1; if ($1 >= 0.8) g++ } END { if (n) printf "files scored %d, mean %.3f, at 0.8 or better %d (%.0f%%)\n", n, s / n, g, 100 * g / n }' "$scores"
