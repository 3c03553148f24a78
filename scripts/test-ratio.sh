#!/usr/bin/env bash
# Prints the size of the tests against the product's code: non-blank, non-comment lines of C++
# in tests/ against app/, cli/, link/, transfer/, protocol/, files/, platform/ and sim/ (bench/
# and fuzz/ are neither). Fails above the limit (default 40 %), so the suite stays lean.
#   scripts/test-ratio.sh [limit-percent]
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${1:-40}
count() { git ls-files -- "$@" | grep -E '\.(cpp|cc|h|hpp)$' | xargs -r cat | grep -c -v -E '^\s*(//.*)?$'; }
tests=$(count tests)
code=$(count app cli link transfer protocol files platform sim)
percent=$(( 100 * tests / code ))
echo "tests: $tests lines, product: $code lines: $percent % (limit $limit %)"
[ "$percent" -le "$limit" ] || { echo "the tests have grown beyond $limit % of the product" >&2; exit 1; }
