#!/usr/bin/env bash
# The key table of README.md is generated from the key map: it is the output
# of `tavlo-keymap --markdown`, between the two marker lines below.
#   scripts/readme-keys.sh write TAVLO_KEYMAP   puts the table in README.md (make readme)
#   scripts/readme-keys.sh check TAVLO_KEYMAP   fails if README.md's table is not that (make test)
set -euo pipefail
mode="$1"
keymap="$2"
readme="$(cd "$(dirname "$0")/.." && pwd)/README.md"
begin='<!-- key table: made by tools/tavlo-keymap --markdown; make readme writes it -->'
end='<!-- end of key table -->'

if [ "$(grep -cxF -- "$begin" "$readme")" != 1 ] || [ "$(grep -cxF -- "$end" "$readme")" != 1 ]; then
  echo "readme-keys: README.md needs the lines '$begin' and '$end' once each"
  exit 1
fi
table="$(mktemp)"
trap 'rm -f "$table"' EXIT
"$keymap" --markdown > "$table"

# README.md with the generated table between the markers.
generated() {
  awk -v begin="$begin" -v end="$end" -v table="$table" '
    $0 == begin { print; while ((getline line < table) > 0) print line; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }
  ' "$readme"
}

case "$mode" in
  write)
    generated > "$readme.new"
    mv "$readme.new" "$readme"
    ;;
  check)
    if ! diff -u <(cat "$readme") <(generated) > "$table.diff"; then
      echo "readme-keys: README.md's key table is not the key map's (make readme rewrites it):"
      head -40 "$table.diff"
      rm -f "$table.diff"
      exit 1
    fi
    rm -f "$table.diff"
    echo "readme-keys: README.md's key table is the key map's"
    ;;
  *)
    echo "usage: readme-keys.sh write|check TAVLO_KEYMAP"
    exit 2
    ;;
esac
