#include "report/rpt32New2.h"

using namespace Qt::StringLiterals;

rpt32New2::rpt32New2()
    : report::CertificateForm(u"rpt32New2"_s)
{
    blankForm = true;

    beginFrame();
    text(0, u"④　③の病状、状態像等の具体的程度、症状等"_s, kText, true);
    line();
    text(300, u"（該当する項目の□にレ印を付け、空欄に必要事項を記入してください。）"_s, kSmall);
    line();
    checkLine(100, u"□ その症状、状態像等が精神病、あるいはそれと同等の病態にあり、持続するか、あるいは消長を繰り返す。"_s,
              u"病状の持続"_s, kSmall);
    checkLine(100, u"□ 精神作用物質の乱用又は依存からの脱却のため、通院医療を自ら希望している。"_s, u"自ら希望"_s, kSmall);
    checkLine(100, u"□ 上記のいずれにも該当しない。"_s, u"病状その他"_s, kSmall);
    textBox(u"状態の程度0"_s, 1100);
    endFrame();

    beginFrame();
    text(0, u"⑤　現在の治療内容"_s, kText, true);
    line();
    text(100, u"(1) 投薬内容　（通院医療費公費負担の対象となると考えられるものについて記入してください。）"_s, kSmall);
    line();
    textBox(u"投薬内容"_s, 1000);
    text(100, u"(2) 精神療法等"_s);
    line();
    textBox(u"精神療法"_s, 1000);
    // The false text's blanks once pushed the circle over 無 on the paper;
    // the circle is placed over the word itself now, the text kept as it was.
    mark(text(100, u"(3) 訪問看護指示の有無　　　　　　　　　　（　　有　　・　　無　　　）"_s), u"訪問看護指示"_s,
         u"○"_s, u"有"_s, u"　　　 ○"_s, u"無"_s);
    line();
    endFrame();

    beginFrame();
    text(0, u"⑥　今後の治療方針　（該当する項目の□にレ印を付け、空欄に必要事項を記入してください。）"_s, kText, true);
    line();
    checkLine(100, u"□　継続的な通院による精神療法や薬物療法を必要とする。"_s, u"継続治療が必要"_s);
    checkLine(100, u"□　上記に該当しない。"_s, u"治療方針その他"_s);
    textBox(u"治療方針"_s, 900);
    endFrame();

    addServicesAndRemarks(u"⑦　現在の精神保健福祉サービスの利用状況"_s, u"⑧　備考"_s);

    // The signature block: the institution at the left, the physician at the right.
    constexpr int kHeading = 1500;
    constexpr int kSigned = 5600;
    institution(u"Label18"_s, 300, 4000);
    line(360);
    textAt(300, kHeading, u"医療機関所在地"_s);
    institution(u"Label20"_s, 300 + kHeading, kSigned - kHeading - 400);
    textAt(kSigned, kWidth - kSigned, u"医師氏名（自署又は記名押印）"_s);
    line(360);
    textAt(300, kHeading, u"名          称"_s);
    institution(u"Label19"_s, 300 + kHeading, kSigned - kHeading - 400);
    field(kSigned + 300, 2600, u"医師氏名"_s);
    textAt(kWidth - 300, 300, u"印"_s);
    line(360);
    textAt(300, kHeading, u"電　話　番　号"_s);
    institution(u"Label21"_s, 300 + kHeading, kSigned - kHeading - 400);
    line();
    detail.height = m_y;
}
