#!/usr/bin/env bash
# Runs the whole ferrolet tool side by side with objcopy and srec_cat on the same generated
# inputs and prints medians, ratios, MB/s, instruction counts (callgrind) and peak memory.
# Not part of the test run. Usage: bench/compare.sh [RUNS]   (default 30 runs per command)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}

bash scripts/install-prerequisites.sh g++ cmake make libbenchmark-dev binutils srecord hyperfine \
  valgrind time python3

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
tool=$PWD/build/bench/ferrolet

work=$(mktemp -d /dev/shm/ferrolet-bench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bench/bench/make_workloads "$work"
printf 'int main(void) { return 0; }\n' >"$work/noop.c"
gcc -O2 -static "$work/noop.c" -o "$work/noop"
cd "$work"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "workloads in $work"
echo

# Median seconds of each command from hyperfine's JSON, and each median as a ratio of the first.
report() {
  python3 - "$@" <<'EOF'
import json, statistics, sys
path, size = sys.argv[1], int(sys.argv[2])
results = json.load(open(path))["results"]
base = statistics.median(results[0]["times"])
for r in results:
    m = statistics.median(r["times"])
    rate = f"{size / m / 1e6:9.1f} MB/s" if size else ""
    print(f"  {m * 1000:9.2f} ms  {m / base:6.2f}x  {rate}  {r['command']}")
EOF
}

echo "== Full 16 KB image, end to end ($(wc -c <full_16k.hex) bytes of HEX), median of $runs runs"
hyperfine -N -w 5 -r "$runs" --export-json full.json \
  "$tool full_16k.hex" \
  "objcopy -I ihex -O binary full_16k.hex full.bin" \
  "srec_cat full_16k.hex -intel -o full.bin -binary" \
  "./noop" >/dev/null 2>&1
report full.json 0

echo
echo "== Reading a 64 MiB stream of valid records, median of $((runs < 10 ? runs : 10)) runs"
hyperfine -N -w 1 -r "$((runs < 10 ? runs : 10))" --export-json stream.json \
  "$tool stream_64m.hex" \
  "objcopy -I ihex -O binary stream_64m.hex stream.bin" \
  "srec_cat -multiple stream_64m.hex -intel -o stream.bin -binary" >/dev/null 2>&1
report stream.json "$(wc -c <stream_64m.hex)"

echo
echo "== Instructions, whole process (valgrind --tool=callgrind), full 16 KB image"
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : //p'
}
ours=$(count "$tool" full_16k.hex)
theirs=$(count objcopy -I ihex -O binary full_16k.hex full.bin)
noop=$(count ./noop)
printf '  %12s  ferrolet\n  %12s  objcopy\n  %12s  static no-op process\n' "$ours" "$theirs" "$noop"
python3 -c "print(f'  ferrolet / objcopy = {$ours / $theirs:.2f}')"

echo
echo "== Peak memory (maximum resident set, /usr/bin/time -v)"
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'; }
for f in stream_1m.hex stream_100m.hex random_1m.hex random_100m.hex; do
  printf '  %8s KiB  ferrolet %s\n' "$(peak "$tool" "$f")" "$f"
done
printf '  %8s KiB  objcopy stream_100m.hex\n' "$(peak objcopy -I ihex -O binary stream_100m.hex stream.bin)"

echo
echo "== Error path: 16 MiB of random bytes, messages to /dev/null"
start=$(date +%s.%N)
"$tool" random_16m.hex >/dev/null || true
end=$(date +%s.%N)
messages=$("$tool" random_16m.hex | grep -c '^Line ' || true)
python3 -c "print(f'  {$end - $start:.2f} s for $messages messages')"
