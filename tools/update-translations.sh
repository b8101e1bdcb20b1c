#!/bin/sh
# Brings the translation sources (resources/translations/*.ts) up to date with the window's
# texts (the preflight checks of doctor/ included): new texts are added unfinished, texts no
# longer used are dropped. Then translate the
# new entries (Qt Linguist, or by editing the .ts files) and rebuild.
#
# With a folder as argument, updates the tarvo_*.ts files in that folder instead (the language
# test runs it on copies to find texts without a translation). LUPDATE names the tool to use.
set -eu
cd "$(dirname "$0")/.."
TS_DIR=${1:-resources/translations}
LUPDATE=${LUPDATE:-$(command -v lupdate6 || command -v lupdate || echo /usr/lib/qt6/bin/lupdate)}
"$LUPDATE" -no-obsolete -locations none -extensions cpp,h -I . app station controls resources doctor \
  -ts "$TS_DIR/tarvo_en.ts" "$TS_DIR/tarvo_ko.ts"
