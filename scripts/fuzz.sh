#!/usr/bin/env bash
# Runs one fuzz target for a while: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# Builds it with clang as a libFuzzer binary in build/fuzz and runs it over a copy of its
# corpus (tests/fuzz/corpus/TARGET); what it finds stays in a scratch folder, never the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
targets=$(ls tests/fuzz/corpus)
if [ $# -lt 2 ] || [ ! -d "tests/fuzz/corpus/${1}" ]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options...]; targets:" $targets >&2
  exit 2
fi
target=$1 seconds=$2
shift 2
bash scripts/setup.sh
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSIVO_FUZZ=ON >/dev/null
cmake --build build/fuzz --target "fuzz_$target" -j2 >/dev/null

binary=build/fuzz/tests/fuzz/fuzz_$target
tree=tests/fuzz/corpus/$target
scratch=$(mktemp -d "build/fuzz/run-$target.XXXXXX")
mkdir "$scratch/corpus" "$scratch/crashes"
cp "$tree"/* "$scratch/corpus/"
status=0
"$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$scratch/crashes/" \
  "$@" "$scratch/corpus" || status=$?
cat <<HELP

New inputs are in $scratch/corpus, findings (if any) in $scratch/crashes.
Reproduce a finding:      $binary FILE
Minimise it:              $binary -minimize_crash=1 -runs=100000 FILE   (then copy the result into $tree/)
Add what adds coverage:   $binary -merge=1 $tree $scratch/corpus
Or rebuild the corpus as the smallest set covering both:
  mkdir $scratch/min && $binary -merge=1 $scratch/min $tree $scratch/corpus && rm $tree/* && cp $scratch/min/* $tree/
HELP
exit $status
