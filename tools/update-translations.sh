#!/bin/sh
# Brings the translation sources (resources/translations/*.ts) up to date with the window's
# texts (the preflight checks of doctor/ included): new texts are added unfinished, texts no
# longer used are dropped. Then translate the
# new entries (Qt Linguist, or by editing the .ts files) and rebuild.
set -eu
cd "$(dirname "$0")/.."
LUPDATE=$(command -v lupdate6 || command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
"$LUPDATE" -no-obsolete -locations none -extensions cpp,h -I . app station controls resources doctor \
  -ts resources/translations/tarvo_en.ts resources/translations/tarvo_ko.ts
