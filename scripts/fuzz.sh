#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a set time.
#
#   scripts/fuzz.sh [--merge] [target...] [-libFuzzer-flag...]
#
# Targets: reg_file pe_strings trace_line (default: all). Each runs FUZZ_SECONDS seconds
# (default 60); a flag such as -runs=2000000 is handed to libFuzzer as well. The saved corpus in
# fuzz/corpus/<target> seeds the run and is never written: new inputs go to the scratch folder
# <build>/corpus/<target>, crashes to <build>/artifacts/<target>/. Exits 1 when any target
# found something.
#
# --merge adds to fuzz/corpus/<target> the scratch inputs that cover code the saved ones do not
# (libFuzzer -merge=1); review and prune what it adds before committing it.
#
# Environment: FUZZ_SECONDS, FUZZ_BUILD_DIR (default build/fuzz), CC/CXX (default clang).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-60}
all_targets=(reg_file pe_strings trace_line)
targets=()
flags=()
merge=0

for arg in "$@"; do
  case $arg in
    --merge) merge=1 ;;
    -*) flags+=("$arg") ;;
    *)
      if [[ ! -d $root/fuzz/corpus/$arg ]]; then
        echo "fuzz.sh: no target '$arg' (have: ${all_targets[*]})" >&2
        exit 2
      fi
      targets+=("$arg") ;;
  esac
done
[[ ${#targets[@]} -gt 0 ]] || targets=("${all_targets[@]}")

export CC=${CC:-clang} CXX=${CXX:-clang++}
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$probe/p.cpp"
if ! "$CXX" -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" 2>"$probe/err"; then
  echo "fuzz.sh: $CXX cannot build libFuzzer binaries; install clang and its runtime" \
    "(Debian: clang libclang-rt-14-dev)" >&2
  head -n 3 "$probe/err" >&2
  exit 2
fi

cmake -S "$root" -B "$build" -DVX380_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVX380_BUILD_TESTS=OFF -DVX380_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

# Adds to the saved corpus only the scratch inputs that reach code it does not; the named
# seeds stay as they are.
merge_corpus() {
  local t=$1 saved=$root/fuzz/corpus/$1 before
  before=$(ls "$saved" | wc -l)
  "$build/fuzz/${t}_fuzz" -merge=1 "$saved" "$build/corpus/$t" >"$build/logs/$t.merge.log" 2>&1
  echo "$t: $(( $(ls "$saved" | wc -l) - before )) inputs added, corpus now $(ls "$saved" | wc -l) files"
}

found=0
for t in "${targets[@]}"; do
  scratch=$build/corpus/$t artifacts=$build/artifacts/$t/ log=$build/logs/$t.log
  rm -rf "$artifacts"
  mkdir -p "$scratch" "$artifacts" "$build/logs"
  if [[ $merge == 1 ]]; then
    merge_corpus "$t"
    continue
  fi
  dict=()
  [[ -f $root/fuzz/dict/$t.dict ]] && dict=(-dict="$root/fuzz/dict/$t.dict")
  echo "== $t: up to $seconds s ${flags[*]}"
  status=0
  "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "${dict[@]}" "${flags[@]}" \
    "$scratch" "$root/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" | tail -1 || true
  grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  crashes=$(find "$artifacts" -type f | sort)
  if [[ $status != 0 || -n $crashes ]]; then
    found=1
    echo "!! $t found a problem (exit $status); log: $log" >&2
    [[ -z $crashes ]] || echo "$crashes" | sed 's/^/   input: /' >&2
    grep -m1 -A12 -E 'ERROR: (AddressSanitizer|libFuzzer|UndefinedBehaviorSanitizer)|runtime error' "$log" >&2 || true
  fi
done
exit $found
