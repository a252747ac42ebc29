#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/ from
# the bundled examples and from tools/gen_instance. The same script always
# writes the same files; run it again after a change of the file formats.
set -euo pipefail
cd "$(dirname "$0")"
root=../..
out=corpus
rm -rf "$out"
mkdir -p "$out"/{parameters,trip_file,groups,problem,long_arcs,annealer_trip_file,temperature,objective}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gen() {  # name, then gen_instance arguments
  local name=$1
  shift
  python3 "$root/tools/gen_instance" "$@" "$work/$name" >/dev/null 2>&1
}
gen tiny --trips 4 --terminals 2 --seed 1
gen few --trips 12 --terminals 4 --seed 2 --short-arc-param 30
gen grouped --trips 25 --terminals 6 --seed 3 --groups 3
gen weighted --trips 30 --terminals 8 --seed 4 --deadrun-weight 40 --layover-weight 0 --min-depot-time 120
gen wide --trips 60 --terminals 20 --seed 5 --groups 6

for ex in small groups medium; do
  cp "$root/examples/$ex/Tarsel.ini" "$out/parameters/$ex.ini"
done
for d in tiny few weighted; do cp "$work/$d/Tarsel.ini" "$out/parameters/$d.ini"; done

for ex in small groups; do
  cp "$root/examples/$ex/Tarsel.bss" "$out/trip_file/$ex.bss"
  cp "$root/examples/$ex/Tarsel.bss" "$out/annealer_trip_file/$ex.bss"
done
for d in tiny few grouped wide; do
  cp "$work/$d/Tarsel.bss" "$out/trip_file/$d.bss"
  cp "$work/$d/Tarsel.bss" "$out/annealer_trip_file/$d.bss"
done

cp "$root/examples/groups/Tarsel.prr" "$out/groups/groups.prr"
for d in grouped wide; do cp "$work/$d/Tarsel.prr" "$out/groups/$d.prr"; done

# A whole problem: parameter file, NUL, trip file[, NUL, groups file].
whole() {  # name, directory
  {
    cat "$2/Tarsel.ini"
    printf '\0'
    cat "$2/Tarsel.bss"
    if [ -f "$2/Tarsel.prr" ]; then
      printf '\0'
      cat "$2/Tarsel.prr"
    fi
  } >"$out/problem/$1"
}
whole small "$root/examples/small"
for d in tiny few grouped weighted; do whole "$d" "$work/$d"; done

printf '16.000000' >"$out/temperature/sixteen"
printf '0.004' >"$out/temperature/small"
printf '1.000000\n' >"$out/temperature/one"
printf '3318\n' >"$out/objective/small"
printf '124306\n' >"$out/objective/groups"
printf '%s\n' -5 >"$out/objective/negative"

# Long-arc passes: trip count byte, node prices, records grouped by tail as
# the network generation writes them, some with a short tail piece.
python3 - "$out/long_arcs" <<'PY'
import random, struct, sys
out = sys.argv[1]
for seed, trips, tail_bytes in [(1, 3, 0), (2, 10, 5), (3, 20, 0), (4, 47, 15), (5, 8, 1)]:
    rng = random.Random(seed)
    nodes = 2 * trips + 2
    data = bytes([trips - 1])
    prices = [0] + [rng.randint(-400, 400) for _ in range(nodes)]
    data += b"".join(struct.pack("<i", p) for p in prices[1:])
    for i in range(1, trips + 1):
        for j in range(i + 1, trips + 1):
            if rng.random() < 0.6:
                data += struct.pack("<iiii", trips + i, j, rng.randint(50, 600), 1 if rng.random() < 0.1 else 0)
    data += bytes(rng.randint(0, 255) for _ in range(tail_bytes))
    open(f"{out}/pass{seed}", "wb").write(data)
PY
echo "seed corpora written to $(pwd)/$out"
