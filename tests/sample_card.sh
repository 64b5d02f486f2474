#!/usr/bin/env bash
# End to end on the sample card: every photo comes back whole and decodes.
#   tests/sample_card.sh LUMISAVE_BINARY
set -euo pipefail
binary=$1
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/scripts/make-sample-card.sh" "$work/card.img" "$work/originals"
HOME=$work "$binary" recover --source "$work/card.img" --out "$work/recovered" --yes
bash "$here/scripts/check-recovery.sh" "$work/originals" "$work/recovered"
echo "1 passed, 0 failed"
