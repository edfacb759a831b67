#!/usr/bin/env bash
# Renders every document of a demo ward to PDF with norva-report, then reads
# each back with poppler, a reader that is not ours: its fixed texts, the
# patient's name and chart ID, and the Japanese fonts embedded.
#   report_documents.sh NORVA-DB NORVA-REPORT
set -euo pipefail
norva_db="$1"
norva_report="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

"$norva_db" demo "$work/ward.mdb" --patients 80 --seed 7 >/dev/null
# A current in-patient: the ledger's documents are printed for such a one.
IFS='|' read -r episode chart name < <(sqlcipher -cmd "PRAGMA key='tamik4062';" "$work/ward.mdb" \
  "SELECT e.入退院ID, e.カルテID, p.氏名 FROM 入退院情報 e JOIN 患者情報 p ON p.カルテID = e.カルテID
   WHERE e.入院日 IS NOT NULL AND e.退院日 IS NULL ORDER BY e.入退院ID LIMIT 1;")

render() { # document, key
  local out="$work/$1.pdf"
  if [ -n "$2" ]; then
    "$norva_report" "$1" --key "$2" --db "$work/ward.mdb" --out "$out" >/dev/null 2>&1
  else
    "$norva_report" "$1" --db "$work/ward.mdb" --out "$out" >/dev/null 2>&1
  fi
  pdftotext -enc UTF-8 "$out" "$work/$1.txt"
  if ! pdffonts "$out" | grep -E 'IPAex(Mincho|Gothic)' | grep -q ' yes '; then
    echo "$1: no embedded Japanese font"; return 1
  fi
}

# Every expected text must be in the document character for character,
# compared without blanks, which the reader places as it sees fit; and no
# text may come back as radicals (⼊ for 入) or other stand-ins of what it shows.
expect() { # document, texts...
  local doc="$1"; shift
  python3 - "$work/$doc.txt" "$doc" "$@" <<'PY'
import re, sys
raw = open(sys.argv[1], encoding='utf-8').read()
text = ''.join(raw.split())
missing = [t for t in sys.argv[3:] if ''.join(t.split()) not in text]
stand_ins = sorted(set(re.findall('[\u2e80-\u2fdf\u2000-\u200a\u00ad]', raw)))
if missing or stand_ins:
    print(sys.argv[2] + ': missing ' + ', '.join(missing) + ' stand-ins ' + ' '.join(stand_ins)); sys.exit(1)
PY
}

status=0
parts=(${name//　/ })
for doc in rptAdmSum rptDischargeHis rptAdmissionPlan rptDischargePlan; do
  render "$doc" "$episode" || status=1
done
expect rptAdmSum 入院時サマリー 主訴 初診名 現病歴 "ＩＤ $chart" "${parts[@]}" || status=1
expect rptDischargeHis 退院病歴 入院中の自殺企図 退院時処方 入院後経過 今後の方針 "$chart" "${parts[@]}" || status=1
expect rptAdmissionPlan 入院診療計画書 患者氏名 "${parts[@]}" || status=1
expect rptDischargePlan 退院療養計画書 患者氏名 "${parts[@]}" || status=1
for doc in rptTreatment rptAdmPsy1 rptAdmPsy2 rptAdmPsy3 rptAdmRecord1 rptAdmRecord2; do
  render "$doc" "" || status=1
done
expect rptTreatment 処置伝票 入院精神療法 部屋 名前 処置の内容 "($chart)" "${parts[@]}" || status=1
expect rptAdmPsy1 "入院精神療法（４週間以内）" "指定医が３０分以上 （入院精神療法Ⅰ）" １回目 氏名 入院日 || status=1
expect rptAdmPsy2 "入院精神療法（５週間から３ヶ月以内）" "非指定医 （入院精神療法Ⅱ）" || status=1
expect rptAdmPsy3 "入院精神療法（３ヶ月以上）" "（入院精神療法Ⅱ）" || status=1
expect rptAdmRecord1 "入退院記録（最近１週間分）" 病室 カルテID 主治医 || status=1
expect rptAdmRecord2 "入退院記録（最近２週間分）" || status=1
exit $status
