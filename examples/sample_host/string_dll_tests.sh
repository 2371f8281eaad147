#!/usr/bin/env bash
# make_string_dll on .rc files it must refuse, and on texts beyond ASCII and with escapes.
#   string_dll_tests.sh <make_string_dll> <work folder>
set -uo pipefail
tool=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# refuse <name> <expected message> <.rc text>
refuse() {
  printf '%s' "$3" >"$work/$1.rc"
  out=$("$tool" "$work/$1.rc" "$work/$1.dll" 2>&1)
  rc=$?
  [ $rc -eq 1 ] || fail "$1: exit $rc, expected 1"
  grep -qF -- "$2" <<<"$out" || fail "$1: said '$out', expected '$2'"
  [ ! -e "$work/$1.dll" ] || fail "$1: left a DLL behind"
}
refuse empty "no STRINGTABLE entries" $'// nothing here\n'
refuse unclosed "lacks its closing quote" $'STRINGTABLE\nBEGIN\n  1 "open\nEND\n'
refuse big_id "above 65535" $'STRINGTABLE\nBEGIN\n  70000 "x"\nEND\n'
refuse no_text "not an \`id \"text\"\` line" $'STRINGTABLE\nBEGIN\n  7\nEND\n'
refuse bad_utf8 "not UTF-8" $'STRINGTABLE\nBEGIN\n  7 "\xff"\nEND\n'
"$tool" "$work/missing.rc" "$work/missing.dll" 2>/dev/null; [ $? -eq 1 ] || fail "a missing .rc is not exit 1"
"$tool" 2>/dev/null; [ $? -eq 2 ] || fail "no arguments is not exit 2"

# Texts as UTF-16LE, escapes resolved; ids in two blocks, with comma and braces.
printf 'STRINGTABLE\n{\n  5, "Caf\xc3\xa9 ""x"" \\\\ \xf0\x9f\x98\x80"\n  16 "second block"\n}\n' >"$work/texts.rc"
"$tool" "$work/texts.rc" "$work/texts.dll" || fail "texts.rc was refused"
hex=$(od -An -v -tx1 "$work/texts.dll" | tr -d ' \n')
# "Café "x" \ 😀" counted (13 units) in UTF-16LE, the emoji as a surrogate pair.
want=0d00430061006600e900200022007800220020005c0020003dd800de
grep -q "$want" <<<"$hex" || fail "the first text is not in the DLL as counted UTF-16LE"
grep -q "$(printf 'second block' | od -An -v -tx1 | tr -d ' \n' | sed 's/\(..\)/\100/g')" <<<"$hex" ||
  fail "the second block's text is not in the DLL"
[ "${hex:0:4}" = 4d5a ] || fail "the DLL does not start with MZ"

[ $failures -eq 0 ] && echo "make_string_dll: all checks passed"
exit $((failures > 0))
