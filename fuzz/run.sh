#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on a copy of its
# seed corpus (fuzz/corpus/<target>). FUZZ_SECONDS sets the time per target (default 60).
# Findings are kept in build-fuzz/findings/ and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh clang libclang-rt-14-dev
seconds=${FUZZ_SECONDS:-60}
targets=(fuzz_to_binary fuzz_get_baud fuzz_mac_convert fuzz_expected_list fuzz_telnet_receive
         fuzz_opquery_multi_args fuzz_opquery_args fuzz_opquery_multi_responses_args fuzz_serial_args)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTEPTOOLS_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target "${targets[@]}"

findings=$PWD/build-fuzz/findings
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  if build-fuzz/fuzz/$t -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
       -artifact_prefix="$findings/$t-" "$work/$t" "fuzz/corpus/$t" >"$work/$t.log" 2>&1; then
    echo "fuzz: $t: $(grep -E '^Done' "$work/$t.log" | tail -1)"
  else
    echo "fuzz: $t: FOUND A FAULT"; grep -E 'ERROR|SUMMARY|Test unit' "$work/$t.log" || tail -20 "$work/$t.log"
    failed+=("$t")
  fi
done
if ((${#failed[@]})); then
  echo "fuzz: findings in $findings for: ${failed[*]}"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each, no findings"
