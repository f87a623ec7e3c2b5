#!/usr/bin/env bash
# Makes the encrypted sample archives of the cipher tests with Info-ZIP zip
# and 7-Zip. Info-ZIP 3.0 sets bit 3 (data descriptor) on every encrypted
# entry, so its headers cannot be tested against the CRC; 7-Zip's can. Run from this folder; the archives are committed, so the tests
# need neither tool. Contents are generated, so the tests can rebuild them.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" <<'PY'
import sys, random
d = sys.argv[1]
words = ["Datei ", "Archiv ", "entpacken ", "der ", "die ", "und ", "Ordner\r\n"]
r = random.Random(7)
open(d + "/text.txt", "wb").write("".join(r.choice(words) for _ in range(3000)).encode())
open(d + "/noise.bin", "wb").write(bytes(r.getrandbits(8) for _ in range(9000)))
open(d + "/small.txt", "wb").write(b"kurz\n")
PY
here=$(pwd)
rm -f ./*.zip
( cd "$work" && zip -q -X -P geheim "$here/zip_shared.zip" text.txt noise.bin small.txt )
( cd "$work" && zip -q -X -P eins "$here/zip_two.zip" text.txt && zip -q -X -P zwei "$here/zip_two.zip" small.txt noise.bin )
( cd "$work" && zip -q -X -P geheim - text.txt < /dev/null > /dev/null; cat text.txt | zip -q -X -P geheim "$here/zip_stream.zip" - )
( cd "$work" && 7z a -tzip -pGeheim7 -mm=Deflate -bso0 -bsp0 "$here/7z_shared.zip" text.txt small.txt >/dev/null \
    && 7z a -tzip -pGeheim7 -mx0 -bso0 -bsp0 "$here/7z_shared.zip" noise.bin >/dev/null )
( cd "$work" && 7z a -tzip -pEins7 -mm=Deflate -bso0 -bsp0 "$here/7z_two.zip" text.txt >/dev/null \
    && 7z a -tzip -pZwei7 -mm=Deflate -bso0 -bsp0 "$here/7z_two.zip" small.txt noise.bin >/dev/null )
cp "$work/text.txt" "$work/noise.bin" "$work/small.txt" "$here/"
