#!/bin/sh
# Makes resources/fonts/VaduzFallback-Regular.otf: the characters the program draws that neither
# Carlito nor Liberation Sans has (full-width brackets and signs, the degree-Celsius sign), cut
# from Noto Sans CJK (Debian fonts-noto-cjk, SIL OFL 1.1) and renamed, as the licence asks of a
# modified font. Needs python3-fonttools.
set -e
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SRC=/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
OUT="$ROOT/resources/fonts/VaduzFallback-Regular.otf"
# ℃ （ ） ： ＜ ＞
UNICODES=U+2103,U+FF08,U+FF09,U+FF1A,U+FF1C,U+FF1E
/usr/bin/python3 -m fontTools.subset "$SRC" --font-number=0 --unicodes="$UNICODES" \
    --no-hinting --drop-tables+=DSIG,VORG,vhea,vmtx --output-file="$OUT.tmp"
/usr/bin/python3 - "$OUT.tmp" "$OUT" <<'PY'
import sys
from fontTools.ttLib import TTFont
font = TTFont(sys.argv[1], recalcTimestamp=False)
names = font["name"]
for rec in list(names.names):
    if rec.nameID in (1, 2, 3, 4, 6, 16, 17):
        names.removeNames(nameID=rec.nameID)
for nid, text in ((1, "Vaduz Fallback"), (2, "Regular"), (3, "Vaduz Fallback Regular"),
                  (4, "Vaduz Fallback"), (6, "VaduzFallback-Regular")):
    names.setName(text, nid, 3, 1, 0x409)
    names.setName(text, nid, 1, 0, 0)
# A fixed time stamp keeps the file the same on every run.
font["head"].created = font["head"].modified = 0x7C259DC0
if "CFF " in font:
    font["CFF "].cff.fontNames = ["VaduzFallback-Regular"]
font.save(sys.argv[2], reorderTables=True)
PY
rm -f "$OUT.tmp"
