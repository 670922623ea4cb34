#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Findings (crash-*, timeout-*, oom-*) are left in the fuzz build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-fuzz}
seconds=${2:-60}
command -v clang++ >/dev/null || {
  echo "Installing clang for the fuzz targets"; sudo_cmd=""; [[ $(id -u) -ne 0 ]] && sudo_cmd=sudo
  $sudo_cmd apt-get install -y -qq --no-install-recommends clang libclang-rt-dev >/dev/null || $sudo_cmd apt-get install -y -qq clang
}
cmake -S "$top" -B "$dir" -G Ninja -DPRINTORB_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRINTORB_WERROR=OFF
cmake --build "$dir"
export LSAN_OPTIONS="suppressions=$top/fuzz/lsan.supp"
status=0
for target in fuzz_parse_request fuzz_base64 fuzz_rtf fuzz_metafile fuzz_pcl_overlay fuzz_regfile fuzz_pcl_raster; do
  corpus="$dir/corpus-$target"; mkdir -p "$corpus"
  time_limit=$seconds
  case $target in
    fuzz_parse_request) cp "$top"/demo/requests/*.tvq "$corpus/" 2>/dev/null || true ;;
    fuzz_regfile) cp "$top"/demo/*.reg "$corpus/" 2>/dev/null || true ;;
    fuzz_pcl_raster) cp "$top"/demo/requests/*.prn "$corpus/" 2>/dev/null || true ;;
    fuzz_metafile)
      # Seeded with the metafiles of the letterheads and the corpus.
      python3 "$top/fuzz/extract_metafiles.py" "$corpus" "$top"/tests/platform/data/lo/*.rtf \
        "$top"/../shared/corpus/rtf/*.rtf 2>/dev/null || true ;;
    fuzz_rtf)
      # The reader gets twice the time, seeded with real files.
      time_limit=$((seconds * 2))
      cp "$top"/tests/platform/data/lo/*.rtf "$corpus/" 2>/dev/null || true
      for f in "$top"/../shared/corpus/rtf/*.rtf; do [[ -f $f ]] && cp "$f" "$corpus/"; done ;;
  esac
  echo "== $target for ${time_limit}s"
  (cd "$dir" && "./bin/$target" -max_total_time="$time_limit" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 "corpus-$target") || status=1
done
exit $status
