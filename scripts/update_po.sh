#!/usr/bin/env bash
# Remakes po/vorcnt.pot from the texts marked N_ (and tr("...")) in the
# sources, and merges it into each translation, where new texts arrive
# untranslated for the translator. Run it after adding or changing a line.
set -euo pipefail
cd "$(dirname "$0")/.."
pot_sources() { git ls-files 'src/*.cpp' 'src/*.h' 'tools/vorstat/*.cpp' 'tools/vorstat/*.h' | LC_ALL=C sort; }
make_pot() {
  # The client's own lines in messages.h are code page 932 bytes; only
  # marked texts, all ASCII, are taken.
  pot_sources | xgettext --files-from=- --language=C++ --from-code=ISO-8859-1 --keyword= --keyword=N_ --keyword=tr \
    --add-comments=TRANSLATORS: --sort-by-file \
    --omit-header --output="$1"
}
if [ "${1:-}" = "--pot-to" ]; then
  make_pot "$2"
  exit
fi
make_pot po/vorcnt.pot
for po in po/*.po; do
  msgmerge --quiet --update --backup=none --no-fuzzy-matching "$po" po/vorcnt.pot
done
