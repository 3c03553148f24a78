#!/usr/bin/env bash
# Mutation testing: puts one small fault at a time into the product's code and asks whether the
# suite (less the label `slow`) catches it.
#
#   scripts/mutation.sh --check          every listed text still exists, once (seconds; CI runs it)
#   scripts/mutation.sh [ID...]          run all mutants, or the ones named; prints caught/missed
#                                        per mutant and the score; exits 1 below 90 %
#
# The faults are data, in tests/mutants.tsv, one per line, tab-separated:
#   id  file  text  replacement  the-fault-a-user-would-hit  [equivalent: why it cannot change behaviour]
# A mutant replaces the one occurrence of its text in its file (text, not line numbers, so the list
# survives code that moves). "\n" in text or replacement stands for a line end. Equivalent mutants
# stay in the list, are checked like the others by --check, and are not run.
#
# Each mutant is built in build-mutation/ (MUTATION_BUILD to change) and the file is restored
# afterwards, also when the run is interrupted.
set -euo pipefail
cd "$(dirname "$0")/.."
LIST=tests/mutants.tsv
BUILD=${MUTATION_BUILD:-build-mutation}
LIMIT=90

# field N of a line (1-based), tabs as separators
field() { printf '%s' "$1" | cut -f"$2"; }

# How often text occurs in file (literal; "\n" a line end).
occurrences() {
    FROM=$2 perl -0777 -ne '$f = $ENV{FROM}; $f =~ s/\\n/\n/g; print scalar(() = /\Q$f\E/g)' "$1"
}

rows() { grep -v -e '^#' -e '^[[:space:]]*$' "$LIST"; }

check() {
    local bad=0 count=0 line id file from
    while IFS= read -r line; do
        id=$(field "$line" 1) file=$(field "$line" 2) from=$(field "$line" 3)
        count=$((count + 1))
        if [ ! -f "$file" ]; then
            echo "$id: no file $file" >&2
            bad=1
        elif [ "$(occurrences "$file" "$from")" != 1 ]; then
            echo "$id: the text is in $file $(occurrences "$file" "$from") times, not once: $from" >&2
            bad=1
        fi
    done < <(rows)
    [ "$bad" = 0 ] && echo "mutants: $count listed, every text found once"
    return "$bad"
}

if [ "${1:-}" = "--check" ]; then
    check
    exit
fi
check >/dev/null || { check; exit 1; }

wanted=("$@")
is_wanted() {
    [ ${#wanted[@]} -eq 0 ] && return 0
    local w
    for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
    return 1
}

scripts/install-deps.sh
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" >/dev/null

backup=""
target=""
restore() {
    if [ -n "$backup" ]; then
        cp "$backup" "$target"
        rm -f "$backup"
        backup=""
    fi
}
trap restore EXIT INT TERM

caught=0 missed=0 equivalent=0 stillborn=0
missed_ids=()
while IFS= read -r line; do
    id=$(field "$line" 1) file=$(field "$line" 2) from=$(field "$line" 3) to=$(field "$line" 4)
    fault=$(field "$line" 5) why=$(field "$line" 6)
    is_wanted "$id" || continue
    if [ -n "$why" ]; then
        printf '%-8s equivalent  %s\n' "$id" "$why"
        equivalent=$((equivalent + 1))
        continue
    fi
    target=$file
    backup=$(mktemp)
    cp "$file" "$backup"
    FROM=$from TO=$to perl -0777 -i -pe '$f = $ENV{FROM}; $t = $ENV{TO}; s/\\n/\n/g for $f, $t; s/\Q$f\E/$t/' "$file"
    start=$(date +%s)
    if ! cmake --build "$BUILD" -j"$(nproc)" >/dev/null 2>&1; then
        verdict="stillborn"
        stillborn=$((stillborn + 1))
    elif QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD" -LE slow -j"$(nproc)" --stop-on-failure \
        --timeout 300 >/dev/null 2>&1; then
        verdict="MISSED"
        missed=$((missed + 1))
        missed_ids+=("$id")
    else
        verdict="caught"
        caught=$((caught + 1))
    fi
    restore
    printf '%-8s %-11s %4ds  %s\n' "$id" "$verdict" $(($(date +%s) - start)) "$fault"
done < <(rows)
cmake --build "$BUILD" -j"$(nproc)" >/dev/null # the tree as it is again

run=$((caught + missed))
score=$((run > 0 ? 100 * caught / run : 100))
echo "caught $caught of $run ($score %); $equivalent equivalent, $stillborn did not build"
[ ${#missed_ids[@]} -eq 0 ] || echo "missed: ${missed_ids[*]}"
[ "$stillborn" = 0 ] || echo "fix the mutants that did not build: each must be a fault that compiles" >&2
[ "$score" -ge "$LIMIT" ] && [ "$stillborn" = 0 ]
