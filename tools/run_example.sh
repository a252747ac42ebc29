#!/usr/bin/env bash
# Builds the programs and solves the bundled example problem in a copy of it
# (build/example-run/), then says where the outputs are.
set -euo pipefail
cd "$(dirname "$0")/.."
example=${1:-examples/small}

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target programs >/dev/null

run_dir=build/example-run/$(basename "$example")
rm -rf "$run_dir"
mkdir -p "$run_dir"
cp "$example"/Tarsel.ini "$example"/Tarsel.bss "$run_dir"/
[ -f "$example"/Tarsel.prr ] && cp "$example"/Tarsel.prr "$run_dir"/
(cd "$run_dir" && ../../bin/Tovarin </dev/null >console.txt)

buses=$(sed -n 's/^#Blocks of trip with number of buses: //p' "$run_dir"/Tarsel.bla)
cost=$(cat "$run_dir"/Tarsel.sol)
echo "Solved $example: $buses vehicles, total cost $cost (1000 per vehicle included)."
echo "Vehicle blocks:   $run_dir/Tarsel.bla"
echo "All outputs:      $run_dir/ (Tarsel.log .est .lus .arm .sol .bla, console.txt)"
