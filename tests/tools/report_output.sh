#!/usr/bin/env bash
# norva-report's --out never destroys a file it was not asked to replace,
# least of all the database, and leaves a PDF only its owner can read.
#   report_output.sh NORVA-DB NORVA-REPORT
set -uo pipefail
norva_db="$1"
report="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
"$norva_db" demo "$work/ward.mdb" --patients 5 --seed 3 >/dev/null || exit 1
sum() { sha256sum "$1" | cut -d' ' -f1; }
db_sum="$(sum "$work/ward.mdb")"
status=0
refused() { # what, args...
  local what="$1"; shift
  if "$report" rptTreatment --db "$work/ward.mdb" "$@" >/dev/null 2>"$work/err"; then
    echo "accepted: $what"; status=1
  elif [ "$(wc -l <"$work/err")" != 1 ]; then
    echo "not one line: $what"; cat "$work/err"; status=1
  fi
}

echo keep >"$work/old.pdf"
refused "an existing file without --force" --out "$work/old.pdf"
[ "$(cat "$work/old.pdf")" = keep ] || { echo "old.pdf overwritten"; status=1; }
ln -s ward.mdb "$work/link.pdf"
for out in ward.mdb ward.mdb-wal ward.mdb-journal link.pdf; do
  refused "the database as $out" --out "$work/$out" --force
done
refused "--key for a ward document" --key 1 --out "$work/k.pdf"
[ "$(sum "$work/ward.mdb")" = "$db_sum" ] || { echo "database changed"; status=1; }
# An episode whose room names no room: the line says which reference.
sqlcipher -cmd "PRAGMA key='tamik4062';" "$work/ward.mdb" "UPDATE 入退院情報 SET 病室番号 = 999 WHERE 入退院ID = 1;" >/dev/null
"$report" rptAdmSum --key 1 --db "$work/ward.mdb" --out "$work/s.pdf" 2>"$work/err"
grep -q '入退院情報 の 病室番号' "$work/err" || { echo "the dangling room is not named"; status=1; }
# A damaged file: one line that says what the administrator does.
cp "$work/ward.mdb" "$work/bad.mdb"
printf 'damaged' | dd of="$work/bad.mdb" bs=1 seek=200 conv=notrunc 2>/dev/null
"$report" rptTreatment --db "$work/bad.mdb" --out "$work/b.pdf" 2>"$work/err"
[ "$(wc -l <"$work/err")" = 1 ] && grep -q '「norva-db check」.*「norva-db restore」' "$work/err" \
  || { echo "a damaged file's line does not point to check and restore"; cat "$work/err"; status=1; }

# Half-written PDFs of killed runs go; the one another run is writing (locked) stays.
touch "$work/.old.pdf.Ab3xQz" "$work/.old.pdf.Zz9yWw"
exec 9<"$work/.old.pdf.Zz9yWw"
flock 9
umask 022
chmod 640 "$work/old.pdf"
"$report" rptTreatment --db "$work/ward.mdb" --out "$work/old.pdf" --force >/dev/null || status=1
[ "$(cd "$work" && echo .old.pdf.*)" = .old.pdf.Zz9yWw ] || { echo "killed runs' PDFs not removed"; status=1; }
exec 9<&-
rm "$work/.old.pdf.Zz9yWw"
[ "$(stat -c %a "$work/old.pdf")" = 640 ] || { echo "replaced PDF did not keep its mode"; status=1; }
head -c 5 "$work/old.pdf" | grep -q '%PDF-' || { echo "old.pdf not replaced"; status=1; }
[ -z "$(find "$work" -name '.*.pdf.*')" ] || { echo "work file left"; status=1; }
exit $status
