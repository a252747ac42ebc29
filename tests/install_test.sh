#!/usr/bin/env bash
# The install as a user does it: into a fresh prefix, then, with nothing but
# that prefix, a problem made by an installed tool, solved by the installed
# solver and turned into CSV by another installed tool, which needs the
# modules installed with it.
# Arguments: the build directory, the cmake to install with.
set -euo pipefail
build_dir=$1
cmake=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
export PYTHONDONTWRITEBYTECODE=1
unset PYTHONPATH

"$cmake" --install "$build_dir" --prefix "$prefix" >/dev/null
for program in Tovarin Sorvenna Lurrick; do
  [ -x "$prefix/bin/$program" ] || { echo "$program is not installed"; exit 1; }
done
[ "$("$prefix/bin/Lurrick" --version)" = "$("$build_dir/bin/Lurrick" --version)" ]

cd "$work"
"$prefix/bin/gen_instance" --trips 20 --terminals 4 --seed 3 problem >/dev/null
(cd problem && "$prefix/bin/Tovarin" </dev/null >console.txt)
"$prefix/bin/blocks_csv" problem
rows=$(wc -l <problem/Tarsel_blocks.csv)
[ "$rows" -eq 21 ] || { echo "Tarsel_blocks.csv holds $rows lines, not a header and 20 trips"; exit 1; }
# The report's style and script are files of the package, installed with it.
"$prefix/bin/report" problem 2>/dev/null
grep -q "table.sortable th{cursor:pointer}" problem/Tarsel_report.html &&
  grep -q "^function cellValue" problem/Tarsel_report.html ||
  { echo "the installed report's page lacks its style or script"; exit 1; }
echo "installed programs and tools ran from $prefix/bin"
