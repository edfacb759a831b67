#include "report/rptWelfare2.h"

using namespace Qt::StringLiterals;
using report::Item;

rptWelfare2::rptWelfare2()
    : report::CertificateForm(u"rptWelfare2"_s)
{
    blankForm = true;

    beginFrame();
    text(0, u"⑤　生活能力の状態"_s, kText, true);
    line();
    text(300, u"（保護的環境ではなく、例えばアパート等で単身生活を行った場合を想定して判定する。）"_s, kSmall);
    line();
    text(100, u"1 現在の生活環境"_s);
    line();
    const Item living =
        text(400, u"入院・入所（施設名　　　　　　　　　　　　　　）・在宅・その他（　　　　　　　　　  　 　　）"_s);
    fieldInside(living, u"生活環境入所名"_s, u"施設名"_s, u'）');
    fieldInside(living, u"生活環境その他名"_s, u"その他（"_s, u'）');
    mark(living, u"生活環境入院"_s, u"○"_s, u"入院"_s);
    mark(living, u"生活環境入所"_s, u"○"_s, u"入所"_s);
    mark(living, u"生活環境在宅"_s, u"○"_s, u"在宅"_s);
    mark(living, u"生活環境その他"_s, u"○"_s, u"その他"_s);
    line();

    text(100, u"2 日常の生活能力の判定（該当する項目を一つ○で囲む。）"_s);
    line();
    const QString helped = u"自発的にできる　・　自発的にできるが援助が必要　・　援助があればできる　･　できない"_s;
    const QString managed = u"適切にできる　　・　おおむねできるが援助が必要　・　援助があればできる　･　できない"_s;
    const QStringList helpedWords{u"自発的にできる"_s, u"自発的にできるが援助が必要"_s, u"援助があればできる"_s,
                                  u"できない"_s};
    const QStringList managedWords{u"適切にできる"_s, u"おおむねできるが援助が必要"_s, u"援助があればできる"_s,
                                   u"できない"_s};
    struct Area
    {
        QString heading;
        QString prefix;
        QStringList levels;
    };
    const QList<Area> areas{
        {u"(1) 適切な食事摂取"_s, u"食事"_s, {u"できる"_s, u"できる援助"_s, u"援助"_s, u"できない"_s}},
        {u"(2) 身辺の清潔保持"_s, u"清潔"_s, {u"できる"_s, u"できる援助"_s, u"援助"_s, u"できない"_s}},
        {u"(3) 金銭管理と買物"_s, u"金銭"_s, {u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s}},
        {u"(4) 通院と服薬（要・不要）"_s, u"通院"_s, {u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s}},
        {u"(5) 他人との意思伝達・対人関係"_s, u"対人"_s, {u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s}},
        {u"(6) 身辺の安全保持・危機対応"_s, u"安全"_s, {u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s}},
        {u"(7) 社会的手続きや公共施設の利用"_s, u"社会"_s, {u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s}},
        {u"(8) 趣味・娯楽への関心、文化的社会的活動への参加"_s, u"参加"_s,
         {u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s}},
    };
    for (int a = 0; a < areas.size(); ++a) {
        const Area &area = areas.at(a);
        const Item heading = text(300, area.heading);
        if (area.prefix == u"通院"_s) {
            // As on page 2 of the subsidy certificate, the circle goes over
            // the word and the false text keeps its blanks.
            mark(heading, u"通院要不要"_s, u"○"_s, u"要"_s, u"　 ○"_s, u"不要"_s);
        }
        line();
        const bool first = a < 2;
        const Item levels = text(700, first ? helped : managed, kSmall);
        for (int l = 0; l < 4; ++l)
            mark(levels, area.prefix + area.levels.at(l), u"○"_s, (first ? helpedWords : managedWords).at(l));
        line();
    }

    text(100, u"3 日常生活能力の程度（該当する項目を一つ○で囲む。）"_s);
    line();
    const QStringList degrees{
        u"(1) 精神障害を認めるが、日常生活及び社会生活は普通にできる。"_s,
        u"(2) 精神障害を認め、日常生活又は社会生活に一定の制限を受ける。"_s,
        u"(3) 精神障害を認め、日常生活に著しい制限を受けており、時に応じて援助を必要とする。"_s,
        u"(4) 精神障害を認め、日常生活に著しい制限を受けており、常時援助を必要とする。"_s,
        u"(5) 精神障害を認め、身の回りのことはほとんどできない。"_s,
    };
    for (int d = 0; d < degrees.size(); ++d) {
        mark(text(300, degrees.at(d)), u"程度%1"_s.arg(d + 1), u"○"_s, QString::number(d + 1));
        line();
    }
    endFrame();

    addServicesAndRemarks(u"⑥　現在の精神保健福祉サービスの利用状況"_s, u"⑦　備考"_s);

    // The signature block: the institution at the left, the physician and
    // his standing at the right.
    constexpr int kHeading = 1500;
    constexpr int kSigned = 5600;
    const auto standing = [&](const QString &text, const QString &column) {
        mark(textAt(kSigned, kWidth - kSigned, text, kSmall), column, u"／"_s, u"□"_s);
    };
    institution(u"Label18"_s, 300, 4000);
    textAt(kSigned, kWidth - kSigned, u"医 師 氏 名（自署又は記名押印）"_s);
    line(340);
    textAt(300, kHeading, u"医療機関所在地"_s);
    institution(u"Label20"_s, 300 + kHeading, kSigned - kHeading - 400);
    field(kSigned + 300, 2600, u"医師氏名"_s);
    textAt(kWidth - 300, 300, u"印"_s);
    line(340);
    textAt(300, kHeading, u"名          称"_s);
    institution(u"Label19"_s, 300 + kHeading, kSigned - kHeading - 400);
    standing(u"□ 精神保健指定医"_s, u"指定医"_s);
    line();
    textAt(300, kHeading, u"電　話　番　号"_s);
    institution(u"Label21"_s, 300 + kHeading, kSigned - kHeading - 400);
    standing(u"□ 精神障害の診断又は治療に従事する医師"_s, u"従事する医師"_s);
    line();
    standing(u"□ その他の医師"_s, u"他の医師"_s);
    line();
    textAt(kSigned, kWidth - kSigned, u"（※該当する項目の□にレ印をつける。）"_s, kSmall);
    line();
    detail.height = m_y;
}
