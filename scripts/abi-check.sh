#!/usr/bin/env bash
# The shared library's ABI against the committed baseline (abi/), with libabigail.
#   abi-check.sh LIBRARY HEADERS_DIR BASELINE           fails on an incompatible change
#   abi-check.sh --update LIBRARY HEADERS_DIR BASELINE  records LIBRARY as the new baseline
# Compatible changes (an added function, say) pass and are printed. A change that breaks
# callers built against the baseline fails: make it compatible, or bump the SONAME and record
# a new baseline in the same commit.
set -uo pipefail
update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
[ $# -eq 3 ] || { echo "usage: $0 [--update] LIBRARY HEADERS_DIR BASELINE" >&2; exit 2; }
lib=$1 headers=$2 baseline=$3
if [ $update -eq 1 ]; then
  exec abidw --headers-dir "$headers" --drop-private-types --no-corpus-path --no-show-locs \
    --drop-undefined-syms --type-id-style hash --out-file "$baseline" "$lib"
fi
[ -f "$baseline" ] || { echo "no ABI baseline at $baseline" >&2; exit 1; }
# The baseline holds the public types only; the library's own are not compared by header, as
# the baseline carries no source locations to match them by.
abidiff "$baseline" "$lib"
rc=$?
# abidiff's status is a bit set: 1 tool error, 2 usage error, 4 ABI change, 8 incompatible change.
if (( rc & 3 )); then echo "abidiff could not compare (status $rc)" >&2; exit 1; fi
if (( rc & 8 )); then echo "INCOMPATIBLE ABI change against $baseline (see above)" >&2; exit 1; fi
if (( rc & 4 )); then echo "compatible ABI changes against $baseline (see above)"; else echo "ABI unchanged against $baseline"; fi
exit 0
