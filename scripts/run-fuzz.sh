#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Findings (crash-*, timeout-*, oom-*) are left in the fuzz build folder.
# Ends with one line per target: its time, how many inputs it ran, and
# whether it found anything.
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
seeds="$top/fuzz/seeds"
corpus="$top/../shared/corpus/rtf"
if [[ -d $corpus ]]; then
  shared=("$corpus"/*.rtf)
else
  echo "The shared RTF corpus $corpus is absent: the RTF and metafile targets start from the repository's own files."
  shared=()
fi
status=0
summary=()
for target in fuzz_parse_request fuzz_base64 fuzz_rtf fuzz_metafile fuzz_pcl_overlay fuzz_regfile fuzz_pcl_raster; do
  corpus_dir="$dir/corpus-$target"; mkdir -p "$corpus_dir"
  time_limit=$seconds
  # The same seeds as the normal build's Fuzz.* tests (fuzz/CMakeLists.txt).
  case $target in
    fuzz_parse_request) cp "$top"/demo/requests/* "$seeds"/request/* "$corpus_dir/" ;;
    fuzz_base64) cp "$top"/demo/requests/* "$seeds"/base64/* "$corpus_dir/" ;;
    fuzz_regfile) cp "$top"/demo/*.reg "$seeds"/reg/* "$corpus_dir/" ;;
    fuzz_pcl_raster | fuzz_pcl_overlay) cp "$top"/demo/requests/*.prn "$seeds"/pcl/* "$corpus_dir/" ;;
    fuzz_metafile)
      cp "$seeds"/metafile/* "$corpus_dir/"
      python3 "$top/fuzz/extract_metafiles.py" "$corpus_dir" "$top"/tests/platform/data/lo/*.rtf \
        "$top"/tests/platform/data/hand/*.rtf ${shared[@]+"${shared[@]}"} ;;
    fuzz_rtf)
      # The reader gets twice the time, seeded with real files.
      time_limit=$((seconds * 2))
      cp "$top"/tests/platform/data/lo/*.rtf "$top"/tests/platform/data/hand/*.rtf "$top"/tests/platform/data/fuzz/*.rtf \
        ${shared[@]+"${shared[@]}"} "$corpus_dir/" ;;
  esac
  echo "== $target for ${time_limit}s"
  log="$dir/$target.log"
  result=ok
  (cd "$dir" && "./bin/$target" -max_total_time="$time_limit" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 "corpus-$target") 2>&1 | tee "$log" || { result="FOUND SOMETHING (see $log)"; status=1; }
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$(printf '%-20s %4ss  %10s inputs  %s' "$target" "$time_limit" "${execs:-?}" "$result")")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
