#!/usr/bin/env bash
# Renders both certificates of a demo patient to PDF with norva-report and
# reads each page back with pdftotext, a reader that is not ours.
#   certificates_pdf.sh NORVA-DB NORVA-REPORT
set -euo pipefail
norva_db="$1"
norva_report="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$norva_db" demo "$work/demo.mdb" --patients 30 --seed 3 >/dev/null
chart="$(printf "PRAGMA key='tamik4062';\nSELECT カルテID FROM \`32条診断書\` ORDER BY カルテID LIMIT 1;\n" \
  | sqlcipher "$work/demo.mdb" | tail -n 1)"
[ -n "$chart" ] || { echo "the demo database has no certificate" >&2; exit 1; }

failed=0
check() {
  local report="$1"; shift
  "$norva_report" "$report" --key "${key:-$chart}" --db "$work/demo.mdb" --out "$work/$report.pdf" >/dev/null
  local pages
  pages="$(pdfinfo "$work/$report.pdf" | awk '/^Pages:/ {print $2}')"
  if [ "$pages" != 1 ]; then
    echo "$report: $pages pages" >&2
    failed=1
  fi
  # Read as laid out, so that a text spread over its width stays one line.
  # Compared character for character without the blanks, which the reader
  # places as it likes; only 〜 and ～ stay one, being one glyph in the fonts.
  pdftotext -layout -enc UTF-8 "$work/$report.pdf" "$work/$report.txt"
  python3 - "$work/$report.txt" "$report" "$@" <<'PY' || failed=1
import sys
def plain(text):
    return "".join(text.replace("\uff5e", "\u301c").split())
printed = plain(open(sys.argv[1], encoding="utf-8").read())
def found(text):
    return plain(text) in printed
missing = [t for t in sys.argv[3:] if not found(t)]
for t in missing:
    print(f"{sys.argv[2]}: missing {t}", file=sys.stderr)
sys.exit(1 if missing else 0)
PY
}

opening=(診断書 氏名 住所 病名（「ICDカテゴリー」欄には、F00～F99及びG40～G47の範囲のものを記入してください。）
  主たる精神障害 従たる精神障害 身体合併症 発病から現在までの病歴 推定発病年月： 精神科受診歴等
  現在の病状、状態像等（該当する項目を○で囲んでください。） 抑うつ状態 思考・運動抑制 そう状態 行為心迫 幻覚妄想状態
  精神運動興奮及び昏迷の状態 分裂病等残遺状態 感情鈍麻 情動及び行動の障害 暴力・衝動行為 不安及び不隠 強迫体験
  けいれん及び意識障害 精神作用物質の乱用及び依存 有機溶剤 知能障害 知的障害（精神遅滞） 中等度 痴呆)
check rpt32New "${opening[@]}" （通院医療費公費負担用）
check rptWelfare1 "${opening[@]}" （精神障害者保健福祉手帳用） 初診年月日： 精神障害を主訴として初めて医療機関を受診した日について、診療録で \
  確認するか、又は本人若しくは家族の申し立てに基づき記入してください。 ③の病状、状態像等の具体的程度、症状等
check rpt32New2 ③の病状、状態像等の具体的程度、症状等 （該当する項目の□にレ印を付け、空欄に必要事項を記入してください。） \
  その症状、状態像等が精神病、あるいはそれと同等の病態にあり、持続するか、あるいは消長を繰り返す。 \
  精神作用物質の乱用又は依存からの脱却のため、通院医療を自ら希望している。 上記のいずれにも該当しない。 現在の治療内容 \
  投薬内容（通院医療費公費負担の対象となると考えられるものについて記入してください。） 精神療法等 訪問看護指示の有無 \
  今後の治療方針 継続的な通院による精神療法や薬物療法を必要とする。 上記に該当しない。 現在の精神保健福祉サービスの利用状況 \
  （社会復帰施設、小規模作業所、グループホーム、ホームヘルプ、訪問指導等） 備考 医療機関所在地 医師氏名（自署又は記名押印） 名称 \
  電話番号
check rptWelfare2 生活能力の状態 （保護的環境ではなく、例えばアパート等で単身生活を行った場合を想定して判定する。） 現在の生活環境 \
  日常の生活能力の判定（該当する項目を一つ○で囲む。） 適切な食事摂取 身辺の清潔保持 金銭管理と買物 通院と服薬 \
  他人との意思伝達・対人関係 身辺の安全保持・危機対応 社会的手続きや公共施設の利用 趣味・娯楽への関心、文化的社会的活動への参加 \
  日常生活能力の程度（該当する項目を一つ○で囲む。） 精神障害を認めるが、日常生活及び社会生活は普通にできる。 \
  精神障害を認め、身の回りのことはほとんどできない。 現在の精神保健福祉サービスの利用状況 備考 医師氏名（自署又は記名押印） \
  医療機関所在地 名称 精神保健指定医 電話番号 精神障害の診断又は治療に従事する医師 その他の医師 （※該当する項目の□にレ印をつける。）

# Today's forms, by a certificate record of each kind.
record() {
  printf "PRAGMA key='tamik4062';\nSELECT 診断書ID FROM 診断書記録 WHERE %s <> 0 ORDER BY 診断書ID LIMIT 1;\n" "$1" \
    | sqlcipher "$work/demo.mdb" | tail -n 1
}
groups=(抑うつ状態 躁状態 幻覚妄想状態 精神運動興奮及び昏迷の状態 統合失調症等残遺状態 情動及び行動の障害 不安及び不穏
  てんかん発作等（けいれん及び意識障害） 精神作用物質の乱用、依存等 知能・記憶・学習・注意の障害 広汎性発達障害関連症状)
key="$(record 自立支援医療)" check rptJiritsuToday 自立支援医療診断書（精神通院医療用） 1病名 主たる精神障害 \
  2発病から現在までの病歴及び治療の経過、内容 3現在の病状、状態像等 "${groups[@]}" 現在の治療内容 今後の治療方針 \
  現在の障害福祉等サービスの利用状況 備考 重度かつ継続 記載日 指定自立支援医療機関の名称 医師氏名
key="$(record 手帳)" check rptTechoToday 精神障害者保健福祉手帳用診断書 ①病名 ②初診年月日 "${groups[@]}" \
  ⑥生活能力の状態 日常生活能力の判定 日常生活能力の程度 ⑦⑥の具体的程度、状態等 ⑨備考 診療担当科名 医師氏名
exit "$failed"
