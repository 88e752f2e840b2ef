#!/usr/bin/env bash
# quillmar-cli's storage commands on a file another program wrote (libgsf's "gsf
# createole"), and "storage check" on a damaged copy of it.
set -euo pipefail
: "${QUILLMAR_CLI:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/src/Folder"
printf 'hello\n' > "$work/src/Readme"
head -c 5000 /dev/zero | tr '\0' 'b' > "$work/src/Folder/Big"
printf 'small' > "$work/src/Folder/Small"
gsf createole "$work/doc.ole" "$work/src/Readme" "$work/src/Folder" >/dev/null 2>&1

listing=$("$QUILLMAR_CLI" storage ls "$work/doc.ole")
[ "$listing" = "$(printf 'd          0  Folder\n-          6  Readme')" ] || fail "root listing: $listing"
listing=$("$QUILLMAR_CLI" storage ls "$work/doc.ole" 'Folder')
[ "$listing" = "$(printf -- '-       5000  Big\n-          5  Small')" ] || fail "folder listing: $listing"
"$QUILLMAR_CLI" storage ls "$work/doc.ole" --json | /usr/bin/python3 -c '
import json, sys
names = [(e["name"], e["type"], e["size"]) for e in json.load(sys.stdin)]
assert names == [("Folder", "storage", 0), ("Readme", "stream", 6)], names'
"$QUILLMAR_CLI" storage cat "$work/doc.ole" 'Folder\Big' | cmp - "$work/src/Folder/Big" || fail "cat Big"
"$QUILLMAR_CLI" storage check "$work/doc.ole" >/dev/null || fail "check of a sound file"

# Missing elements and non-compound files fail with one line and a non-zero exit.
if "$QUILLMAR_CLI" storage cat "$work/doc.ole" Folder/None 2>"$work/err"; then fail "cat of a missing stream"; fi
grep -q 'there is no element "None" in "Folder"' "$work/err" || fail "message: $(cat "$work/err")"
if "$QUILLMAR_CLI" storage ls "$work/src/Readme" 2>"$work/err"; then fail "ls of a text file"; fi
grep -q 'is not a compound file' "$work/err" || fail "message: $(cat "$work/err")"

# A file that cannot be read at all is named once, and check tells it from damage (2, not 1).
if "$QUILLMAR_CLI" storage ls "$work/missing.ole" 2>"$work/err"; then fail "ls of a missing file"; fi
[ "$(grep -o 'cannot open' "$work/err" | wc -l)" -eq 1 ] || fail "message: $(cat "$work/err")"
set +e
"$QUILLMAR_CLI" storage check "$work/missing.ole" >/dev/null 2>"$work/err"
code=$?
set -e
[ $code -eq 2 ] || fail "check exit code $code for a missing file"
[ "$(grep -o 'cannot open' "$work/err" | wc -l)" -eq 1 ] || fail "message: $(cat "$work/err")"

# Damage: the stream "Big" is made to claim 4 GB; check names it and exits 1.
cp "$work/doc.ole" "$work/bad.ole"
/usr/bin/python3 - "$work/bad.ole" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
first_dir = struct.unpack_from("<I", data, 48)[0]
for i in range(4):
    at = (first_dir + 1) * 512 + 128 * i
    length = struct.unpack_from("<H", data, at + 64)[0]
    if data[at:at + length - 2].decode("utf-16-le") == "Big":
        struct.pack_into("<I", data, at + 120, 0xFFFFFFF0)
open(path, "wb").write(bytes(data))
PY
set +e
"$QUILLMAR_CLI" storage check "$work/bad.ole" >"$work/out"
code=$?
set -e
[ $code -eq 1 ] || fail "check exit code $code for a damaged file"
grep -q '^damage: .*stream "Big".*more than the file holds' "$work/out" || fail "check report: $(cat "$work/out")"
echo "storage commands: ok"
