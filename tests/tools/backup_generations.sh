#!/usr/bin/env bash
# The nightly backup as cron runs it: silent when it succeeds, and with
# --keep N the newest copy at DEST, the earlier ones at DEST.1 … DEST.(N-1);
# each night's audit head is noted in DEST.audit, which `audit verify` holds the database to.
#   backup_generations.sh NORVA-DB
set -euo pipefail
norva_db="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$norva_db" demo "$work/ward.mdb" --patients 5 >/dev/null
for night in 1 2 3 4; do
  said="$("$norva_db" backup "$work/ward.mdb" "$work/b.mdb" --keep 3 2>&1)"
  [ -z "$said" ] || { echo "night $night printed: $said"; exit 1; }
  cp --preserve=mode "$work/b.mdb" "$work/night$night" # marks each copy by its bytes
done
cmp -s "$work/b.mdb" "$work/night4" && cmp -s "$work/b.mdb.1" "$work/night3" && cmp -s "$work/b.mdb.2" "$work/night2" \
  || { echo "generations out of order"; exit 1; }
[ ! -e "$work/b.mdb.3" ] || { echo "kept more than 3"; exit 1; }
[ "$(wc -l < "$work/b.mdb.audit")" -eq 4 ] || { echo "not one audit head per night"; exit 1; }
noted="$(tail -n 1 "$work/b.mdb.audit" | cut -d' ' -f2)"
"$norva_db" audit verify "$work/ward.mdb" --expect "$noted" >/dev/null || { echo "the noted head was not reached"; exit 1; }
! "$norva_db" audit verify "$work/ward.mdb" --expect "9${noted}" >/dev/null || { echo "a longer trail noted went unseen"; exit 1; }
"$norva_db" restore "$work/b.mdb.2" "$work/ward.mdb" >/dev/null
