#!/usr/bin/env bash
# A feed merged into a channel with quillmar-cli, checked from outside: the second
# import of the same feed leaves the document file untouched, the file opens in
# olefile, and the keys in the channel's ".index" are the ones the topic key rule gives
# (the guid, or the MD5 digest of the decoded title and the link), computed here
# independently of the program.
set -euo pipefail
: "${QUILLMAR_CLI:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export HOME="$work/home" XDG_CONFIG_HOME="$work/config"
cli() { "$QUILLMAR_CLI" --data "$work/data" "$@"; }

/usr/bin/python3 - "$work/feed.xml" <<'PY'
import sys
items = []
for i in range(1, 1001):
    if i % 3 == 0:
        # No guid: the key is the digest of title and link.
        items.append(f"<item><title>Caf&#233; &amp;amp; Bar {i}</title>"
                     f"<link>http://example.com/{i}</link></item>")
    else:
        enclosure = (f'<enclosure url="http://example.com/ep%20{i}.mp3" length="{i}" '
                     'type="audio/mpeg"/>') if i % 100 == 1 else ""
        items.append(f"<item><title>Item {i}</title><guid> id-{i} </guid>"
                     f"<link>http://example.com/{i}</link>{enclosure}</item>")
with open(sys.argv[1], "w", encoding="utf-8") as f:
    f.write('<?xml version="1.0" encoding="utf-8"?><rss version="2.0"><channel>'
            "<title>Numbers</title><link>http://example.com/</link><description>d</description>"
            + "".join(items) + "</channel></rss>")
PY

channel=$(cli add-channel / http://example.com/feed.xml)
[ "$(cli import-feed "$channel" "$work/feed.xml")" = 1000 ] || fail "first import"
before=$(sha256sum "$work/data/Reader.bin")
stamp=$(stat -c %y "$work/data/Reader.bin")
sleep 1
[ "$(cli import-feed "$channel" "$work/feed.xml")" = 0 ] || fail "second import stored topics"
[ "$(sha256sum "$work/data/Reader.bin")" = "$before" ] || fail "second import changed the file"
[ "$(stat -c %y "$work/data/Reader.bin")" = "$stamp" ] || fail "second import wrote the file"

/usr/bin/python3 - "$work/data/Reader.bin" "$channel" "$work/feed.xml" <<'PY'
import hashlib, html, struct, sys
import xml.etree.ElementTree as ET
import olefile

path, channel, feed = sys.argv[1:4]
ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)

END, LIST = object(), object()
def value(b, p):
    tag = b[p]; p += 1
    if tag == 0x00: return END, p
    if tag == 0x01: return LIST, p
    if tag == 0x06: n = b[p]; return b[p + 1:p + 1 + n].decode("utf-8"), p + 1 + n
    if tag in (0x0C, 0x14):
        n = struct.unpack_from("<i", b, p)[0]; return b[p + 4:p + 4 + n].decode("utf-8"), p + 4 + n
    if tag == 0x12:
        n = struct.unpack_from("<i", b, p)[0]
        return b[p + 4:p + 4 + 2 * n].decode("utf-16-le"), p + 4 + 2 * n
    if tag == 0x11: return struct.unpack_from("<d", b, p)[0], p + 8
    if tag in (0x08, 0x09): return tag == 0x09, p
    if tag == 0x02: return struct.unpack_from("<b", b, p)[0], p + 1
    if tag == 0x03: return struct.unpack_from("<h", b, p)[0], p + 2
    if tag == 0x04: return struct.unpack_from("<i", b, p)[0], p + 4
    raise ValueError(f"tag {tag:#x} at {p - 1}")

index = ole.openstream(channel.split("\\") + [".index"]).read()
p = 4
v, p = value(index, p); assert v is LIST
entries = []
while True:
    v, p = value(index, p)
    if v is END: break
    entries.append(v)
    for _ in range(11): _, p = value(index, p)
v, p = value(index, p); assert v is LIST
known = []
while True:
    v, p = value(index, p)
    if v is END: break
    known.append(v)
assert p == len(index), "trailing bytes in .index"

expected = []
for item in ET.parse(feed).getroot().iter("item"):
    guid = (item.findtext("guid") or "").strip()
    if guid:
        expected.append(guid)
    else:
        text = html.unescape(item.findtext("title")) + item.findtext("link")
        expected.append(hashlib.md5(text.encode("utf-8")).hexdigest().upper())
assert len(set(expected)) == 1000
assert sorted(entries) == sorted(expected), "index entries differ from the rule's keys"
assert sorted(known) == sorted(expected), "known keys differ from the rule's keys"

# One attachment record per enclosure, their addresses written as 16-bit texts.
records = ole.openstream(".attachments").read()
assert struct.unpack_from("<i", records, 0)[0] == 10
p = 4
v, p = value(records, p); assert v is LIST
urls = []
while True:
    if records[p] == 0: break
    assert struct.unpack_from("<i", records, p)[0] == 30; p += 4
    key, p = value(records, p)
    url, p = value(records, p)
    urls.append(url)
    _, p = value(records, p)                 # mime type
    p += 4 * 4                               # size, downloaded, state, priority
    _, p = value(records, p)                 # comment
    p += 16                                  # added, completed
    _, p = value(records, p); _, p = value(records, p)  # directory, file name
    p += 4                                   # kind
    _, p = value(records, p)                 # error message
assert urls == [f"http://example.com/ep%20{i}.mp3" for i in range(1, 1001, 100) if i % 3], urls
print("ok", len(entries), "topics", len(urls), "attachments")
PY
cli storage check "$work/data/Reader.bin" >/dev/null || fail "storage check"

# A second channel of the same topics, deleted again, leaves half the file free:
# "storage compact" gives it back, and the first channel is whole in the smaller file.
second=$(cli add-channel / http://example.com/other.xml --title Other)
[ "$(cli import-feed "$second" "$work/feed.xml")" = 1000 ] || fail "import into the second channel"
cli rm "$second" >/dev/null || fail "rm of the second channel"
large=$(stat -c %s "$work/data/Reader.bin")
cli storage compact "$work/data/Reader.bin" --min-free 0.9 | grep -q 'left as it is' ||
    fail "compact rewrote a file below its threshold"
[ "$(stat -c %s "$work/data/Reader.bin")" = "$large" ] || fail "compact below the threshold wrote"
cli storage compact "$work/data/Reader.bin" | grep -q 'rewritten' || fail "compact"
small=$(stat -c %s "$work/data/Reader.bin")
[ "$small" -lt $((large * 3 / 4)) ] || fail "compact left $small of $large bytes"
cli storage check "$work/data/Reader.bin" >/dev/null || fail "storage check after compact"
cli topics "$channel" --json | /usr/bin/python3 -c '
import json, sys
assert len(json.load(sys.stdin)) == 1000' || fail "topics after compact"
if cli storage compact "$work/missing.bin" 2>"$work/err"; then fail "compact of a missing file"; fi
[ "$(wc -l < "$work/err")" = 1 ] || fail "compact error: $(cat "$work/err")"
