#include "report/rptDischargeHis.h"

using namespace Qt::StringLiterals;
using report::Item;

namespace {

constexpr int kWidth = 9000;
constexpr int kRow = 450;

constexpr double kHeadingPoints = 9;

Item value(const QString &name, const QRect &rect, const QString &column, const QString &format = {})
{
    return report::Layout::field(name, rect.adjusted(100, 0, -60, 0), column, format);
}

} // namespace

rptDischargeHis::rptDischargeHis()
{
    name = u"rptDischargeHis"_s;
    // In this document the page header is the section named Section3.
    nameSections(u"Section3"_s, u"Section1"_s, u"Section2"_s);

    pageHeader.height = 840;
    pageHeader.items = {heading(u"Label1"_s, QRect(0, 0, kWidth, 560), QString(), 14),
                        line(u"Line1"_s, QRect(0, 660, kWidth, 0))};

    QList<Item> items;
    int n = 2;
    const auto next = [&n](const char *prefix) { return u"%1%2"_s.arg(QLatin1String(prefix)).arg(n++); };
    // A bordered cell: its box, and a heading or a value inside it.
    const auto cell = [&](const QRect &rect) { items << box(next("Shape"), rect); };

    // Name and the first diagnosis.
    int y = 0;
    cell(QRect(0, y, 1300, kRow)); items << heading(next("Label"), QRect(0, y, 1300, kRow), u"氏名"_s, kHeadingPoints);
    cell(QRect(1300, y, 3200, kRow)); items << value(next("Field"), QRect(1300, y, 3200, kRow), u"氏名"_s);
    cell(QRect(4500, y, 1500, kRow)); items << heading(next("Label"), QRect(4500, y, 1500, kRow), u"一時診断名"_s, kHeadingPoints);
    cell(QRect(6000, y, 3000, kRow)); items << value(next("Field"), QRect(6000, y, 3000, kRow), u"一時診断名"_s);
    y += kRow;

    // The three definite diagnoses, code and name.
    cell(QRect(0, y, 1300, 3 * kRow)); items << heading(next("Label"), QRect(0, y, 1300, 3 * kRow), u"確定診断名"_s, kHeadingPoints);
    cell(QRect(1300, y, kWidth - 1300, 3 * kRow));
    for (int i = 1; i <= 3; ++i) {
        const int top = y + (i - 1) * kRow;
        const QString mark = i == 1 ? u"①"_s : i == 2 ? u"②"_s : u"③"_s;
        items << value(u"Code%1"_s.arg(i), QRect(1300, top, 1200, kRow), u"サブコード"_s + mark)
              << value(u"Diagnosis%1"_s.arg(i), QRect(2500, top, kWidth - 2500, kRow), u"サブ診断名"_s + mark);
    }
    y += 3 * kRow;

    cell(QRect(0, y, 1300, kRow)); items << heading(next("Label"), QRect(0, y, 1300, kRow), u"生年月日"_s, kHeadingPoints);
    cell(QRect(1300, y, kWidth - 1300, kRow));
    items << value(u"Born"_s, QRect(1300, y, 4000, kRow), u"生年月日"_s, u"ggge年m月d日"_s);
    y += kRow;

    cell(QRect(0, y, 1300, kRow)); items << heading(next("Label"), QRect(0, y, 1300, kRow), u"入院日"_s, kHeadingPoints);
    cell(QRect(1300, y, 3200, kRow));
    items << value(u"Admitted"_s, QRect(1300, y, 3200, kRow), u"入院日"_s, u"ggge年m月d日"_s);
    cell(QRect(4500, y, 1500, kRow)); items << heading(next("Label"), QRect(4500, y, 1500, kRow), u"退院日"_s, kHeadingPoints);
    cell(QRect(6000, y, 3000, kRow));
    items << value(u"Discharged"_s, QRect(6000, y, 3000, kRow), u"退院日"_s, u"ggge年m月d日"_s);
    y += kRow;

    // Headings over their values, five and then three to a row.
    const auto table = [&](const QList<std::pair<QString, QString>> &columns) {
        const int width = kWidth / int(columns.size());
        for (int c = 0; c < columns.size(); ++c) {
            const QRect head(c * width, y, width, kRow);
            const QRect under(c * width, y + kRow, width, kRow);
            cell(head);
            cell(under);
            items << heading(next("Label"), head, columns.at(c).first, kHeadingPoints)
                  << value(u"Value_"_s + columns.at(c).second, under, columns.at(c).second);
        }
        y += 2 * kRow;
    };
    table({{u"主治医①"_s, u"サブ主治医①"_s}, {u"主治医②"_s, u"サブ主治医②"_s}, {u"入院形態"_s, u"サブ入院形態"_s},
           {u"カルテID"_s, u"患者情報.カルテID"_s}, {u"入院中の診断書発行"_s, u"入院中の診断書発行"_s}});
    table({{u"転帰"_s, u"サブ転帰"_s}, {u"扱別"_s, u"サブ扱別"_s}, {u"保険"_s, u"保険"_s}});

    // Three events of the stay, each a heading and あり or なし.
    const QList<std::pair<QString, QString>> events{{u"入院中の自殺企図"_s, u"入院中の自殺企図"_s},
                                                    {u"入院中の保護室使用"_s, u"入院中の保護室使用"_s},
                                                    {u"入院中のＥＳＴ"_s, u"入院中のＥＳＴ"_s}};
    for (int c = 0; c < events.size(); ++c) {
        const QRect head(c * 3000, y, 2000, kRow);
        const QRect mark(c * 3000 + 2000, y, 1000, kRow);
        cell(head);
        cell(mark);
        Item answer = yesNo(u"Event%1"_s.arg(c + 1), mark, events.at(c).second, u"あり"_s, u"なし"_s);
        answer.alignment = Qt::AlignCenter;
        items << heading(next("Label"), head, events.at(c).first, kHeadingPoints) << answer;
    }
    y += kRow + 150;

    // Two pairs of free texts side by side, each box growing with the longer.
    const auto texts = [&](const QString &left, const QString &leftColumn, const QString &right,
                           const QString &rightColumn) {
        for (int c = 0; c < 2; ++c) {
            const int x = c * 4500;
            cell(QRect(x, y, 4500, 400));
            items << heading(next("Label"), QRect(x, y, 4500, 400), c == 0 ? left : right, kHeadingPoints);
            cell(QRect(x, y + 400, 4500, 1400));
            Item text = field(u"Text_"_s + (c == 0 ? leftColumn : rightColumn), QRect(x + 100, y + 480, 4300, 1200),
                              c == 0 ? leftColumn : rightColumn);
            text.grows = true;
            text.points = 9;
            items << text;
        }
        y += 1800 + 150;
    };
    texts(u"現病歴"_s, u"現病歴"_s, u"退院時処方"_s, u"退院時処方"_s);
    texts(u"入院後経過"_s, u"入院後経過"_s, u"今後の方針"_s, u"退院計画"_s);

    detail.height = y;
    detail.items = items;

    documentPerRow = true;
    Item stamp = label(u"Label99"_s, QRect(5400, 0, kWidth - 5400, 400), u"%D %T"_s);
    stamp.alignment = Qt::AlignRight | Qt::AlignVCenter;
    stamp.points = 8;
    pageFooter.height = 400;
    pageFooter.items = {stamp};
    addSheetMarks(pageFooter, QRect(0, 0, 3600, 400), QRect(3600, 0, 1800, 400), Qt::AlignCenter);
}
