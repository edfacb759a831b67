#include "report/certificateform.h"

#include "report/engine.h"

using namespace Qt::StringLiterals;

namespace report {

namespace {

constexpr int kInset = 150;  // texts from the frame's edge
constexpr int kGroup = 300;  // a condition group's heading
constexpr int kItems = 500;  // its item lines
constexpr double kItemText = 7; // the widest line, (6), in a frame's width
// The condition groups' lines stand a little closer than the form's others,
// leaving the history its eight lines on the handbook's one sheet.
constexpr int kConditionLine = 260;

} // namespace

CertificateForm::CertificateForm(const QString &layoutName)
{
    name = layoutName;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);
}

QString CertificateForm::next(const char *prefix)
{
    // Numbered past the labels the launchers write at run time.
    return u"%1%2"_s.arg(QLatin1String(prefix)).arg(++m_items + 100);
}

void CertificateForm::addTitle(const QString &use)
{
    Item subtitle = label(u"Label2"_s, QRect(0, 520, kWidth, 300), use);
    subtitle.alignment = Qt::AlignRight | Qt::AlignVCenter;
    pageHeader.height = 900;
    pageHeader.items = {heading(u"Label1"_s, QRect(0, 0, kWidth, 520), u"診　 　 断　  　書"_s, 18), subtitle};
}

Item CertificateForm::text(int indent, const QString &text, double points, bool gothic)
{
    Item item = label(next("Label"), QRect(kInset + indent, m_y, kWidth - 2 * kInset - indent, kLine), text);
    item.points = points;
    item.gothic = gothic;
    detail.items << item;
    return item;
}

Item CertificateForm::textAt(int left, int width, const QString &text, double points, Qt::Alignment alignment)
{
    Item item = label(next("Label"), QRect(left, m_y, width, kLine), text);
    item.points = points;
    item.alignment = alignment;
    detail.items << item;
    return item;
}

void CertificateForm::field(int left, int width, const QString &column, const QString &format)
{
    Item item = Layout::field(next("Field"), QRect(left, m_y, width, kLine), column, format);
    item.points = kText;
    detail.items << item;
}

void CertificateForm::institution(const QString &labelName, int left, int width)
{
    Item item = label(labelName, QRect(left, m_y, width, kLine), QString());
    item.points = kText;
    detail.items << item;
}

void CertificateForm::line(int height)
{
    m_y += height;
}

void CertificateForm::textBox(const QString &column, int height)
{
    detail.items << box(next("Shape"), QRect(kInset, m_y, kWidth - 2 * kInset, height));
    Item item = Layout::field(next("Field"), QRect(kInset + 100, m_y + 60, kWidth - 2 * kInset - 200, height - 120),
                              column);
    item.points = kText;
    item.grows = true;
    // A certificate is one sheet: the text keeps to its box.
    item.smallest = kLegible;
    detail.items << item;
    m_y += height + 60;
}

void CertificateForm::fieldInside(const Item &text, const QString &column, const QString &after, QChar close)
{
    const qsizetype from = text.text.indexOf(after) + after.size();
    const qsizetype to = text.text.indexOf(close, from);
    const QRectF blanks = glyphBox({text.rect, text.text, textFont(text.points, text.gothic), text.alignment, {}},
                                   from, to - from);
    // Its first line level with the text's, which stands in the middle of its line.
    Item item = Layout::field(next("Field"), QRect(qRound(blanks.left()), text.rect.top() + 50, qRound(blanks.width()),
                                                   text.rect.height() - 100),
                              column);
    item.points = text.points;
    item.grows = true;
    detail.items << item;
}

void CertificateForm::mark(const Item &text, const QString &column, const QString &yes, const QString &word,
                           const QString &no, const QString &noWord)
{
    detail.items << Layout::mark(u"Mark_"_s + column, text, column, yes, word, no, noWord);
}

void CertificateForm::checkLine(int indent, const QString &text, const QString &column, double points)
{
    mark(this->text(indent, text, points), column, u"／"_s, u"□"_s);
    line();
}

void CertificateForm::addServicesAndRemarks(const QString &servicesHeading, const QString &remarksHeading)
{
    beginFrame();
    text(0, servicesHeading, kText, true);
    line();
    text(300, u"（社会復帰施設、小規模作業所、グループホーム、ホームヘルプ、訪問指導等）"_s, kSmall);
    line();
    textBox(u"福祉サービス"_s, 900);
    endFrame();

    beginFrame();
    text(0, remarksHeading, kText, true);
    line();
    textBox(u"備考0"_s, 900);
    endFrame();
}

void CertificateForm::beginFrame()
{
    m_frameTop = m_y;
    m_y += 60;
}

void CertificateForm::endFrame()
{
    m_y += 60;
    detail.items << box(next("Shape"), QRect(0, m_frameTop, kWidth, m_y - m_frameTop));
    m_y += 80;
}

void CertificateForm::addPatient()
{
    constexpr int kRow = 420;
    constexpr int kHeading = 1500;
    const auto heading = [&](const QString &text) {
        Item item = label(next("Label"), QRect(0, m_y, kHeading, kRow), text);
        item.points = kText;
        item.alignment = Qt::AlignCenter;
        detail.items << item;
    };
    const auto value = [&](int left, int width, const QString &column, const QString &format = {}) {
        Item item = Layout::field(next("Field"), QRect(left, m_y, width, kRow), column, format);
        item.points = left == kHeading + 120 ? 11 : kText;
        detail.items << item;
    };
    detail.items << box(next("Shape"), QRect(0, 0, kWidth, 2 * kRow))
                 << Layout::line(next("Line"), QRect(kHeading, 0, 0, 2 * kRow))
                 << Layout::line(next("Line"), QRect(0, kRow, kWidth, 0));
    heading(u"氏　　　　　名"_s);
    value(kHeading + 120, 2500, u"氏名"_s);
    value(4200, 2800, u"生年月日"_s, u"ggg e 年 m 月 d 日 生"_s);
    value(7000, 1100, u"年齢"_s, u"（00 歳）"_s);
    value(8150, 750, u"略称"_s);
    m_y += kRow;
    heading(u"住          所"_s);
    value(kHeading + 120, 1300, u"郵便番号"_s, u"000-0000"_s);
    value(kHeading + 1500, kWidth - kHeading - 1600, u"住所"_s);
    // A long address takes smaller type and more lines, its frame growing
    // with it rather than the text running over it.
    Item &address = detail.items.last();
    address.grows = true;
    address.smallest = kLegible;
    m_y += kRow + 80;
}

void CertificateForm::addDiagnoses()
{
    beginFrame();
    text(0, u"①　病名　（「ICDカテゴリー」欄には、F00～F99及びG40～G47の範囲のものを記入してください。）"_s, kSmall, true);
    line();
    const auto diagnosis = [&](const QString &heading, const QString &name, const QString &code) {
        textAt(kInset + 200, 1800, heading);
        field(2150, 4100, name);
        textAt(6300, 1400, u"ICDカテゴリー"_s);
        field(7700, 1150, code, u"（#）"_s);
        line();
    };
    diagnosis(u"(1) 主たる精神障害"_s, u"主診断名"_s, u"主コード"_s);
    diagnosis(u"(2) 従たる精神障害"_s, u"従診断名"_s, u"従コード"_s);
    textAt(kInset + 200, 1800, u"(3) 身体合併症"_s);
    field(2150, kWidth - 2150 - kInset, u"身体合併症"_s);
    line();
    endFrame();
}

void CertificateForm::addHistory(bool firstVisit)
{
    beginFrame();
    text(0, u"②　発病から現在までの病歴"_s, kText, true);
    line();
    textAt(kInset + 200, 1700, u"推定発病年月　："_s);
    // The form's own "ころ" follows the date, blank or written.
    field(2050, 2000, u"推定発病時期"_s);
    textAt(4050, 600, u"ころ"_s);
    line();
    if (firstVisit) {
        // The note beside the date, between its brackets over two lines: the
        // date keeps to its line, so that the note's lines stay where they are.
        textAt(kInset + 200, 1700, u"初診年月日　："_s);
        field(2050, 1800, u"初診日"_s);
        textAt(3870, 150, u"〔"_s, kSmall);
        textAt(4020, 4780, u"精神障害を主訴として初めて医療機関を受診した日について、診療録で"_s, 7);
        line(250);
        textAt(4020, 4780, u"確認するか、又は本人若しくは家族の申し立てに基づき記入してください。"_s, 7);
        textAt(8800, 150, u"〕"_s, kSmall);
        line(350);
    }
    text(200, u"精神科受診歴等"_s);
    line();
    textBox(u"病歴および経過など0"_s, 1480);
    endFrame();
}

void CertificateForm::addConditions()
{
    struct Group
    {
        QString heading;
        QString flag;
        QString items;
        QStringList itemFlags;
        QString other;
    };
    const QString blanks = u" (　　　　　　　　　　　　　　　　　　　　　　　　　)"_s;
    const QList<Group> groups{
        {u"(1) 抑うつ状態"_s, u"○抑うつ状態"_s, u"1 思考・運動抑制　2 刺激性・興奮　3 憂うつ気分　4 その他"_s + blanks,
         {u"思考運動抑制"_s, u"刺激性興奮"_s, u"憂うつ気分"_s, u"その他(抑うつ状態)チェック"_s}, u"その他(抑うつ状態)"_s},
        {u"(2) そう状態"_s, u"○そう状態"_s, u"1 行為心迫　2 多弁　3 感情高揚・刺激性　4 その他"_s + blanks,
         {u"行為心迫"_s, u"多弁"_s, u"感情高揚刺激性"_s, u"その他(そう状態)チェック"_s}, u"その他(そう状態)"_s},
        {u"(3) 幻覚妄想状態"_s, u"○幻覚妄想状態"_s, u"1 幻覚　2 妄想　3 その他"_s + blanks,
         {u"幻覚"_s, u"妄想"_s, u"その他(幻覚妄想状態)チェック"_s}, u"その他(幻覚妄想状態)"_s},
        {u"(4) 精神運動興奮及び昏迷の状態"_s, u"○精神運動興奮"_s, u"1 興奮　2 昏迷　3 拒絶　4 その他"_s + blanks,
         {u"興奮"_s, u"昏迷"_s, u"拒絶"_s, u"その他(精神運動興奮)チェック"_s}, u"その他(精神運動興奮)"_s},
        {u"(5) 分裂病等残遺状態"_s, u"○残遺症状"_s, u"1 自閉　2 感情鈍麻　3 意欲の減退　4 その他"_s + blanks,
         {u"自閉"_s, u"感情鈍麻"_s, u"意欲の減退"_s, u"その他(残遺症状)チェック"_s}, u"その他(残遺症状)"_s},
        {u"(6) 情動及び行動の障害"_s, u"○情動行動"_s,
         u"1 爆発性　2 暴力・衝動行為　3 多動　4 食行動の異常　5 その他"_s + blanks,
         {u"爆発性"_s, u"暴力衝動行為"_s, u"多動"_s, u"食行動異常"_s, u"その他(情動行動)チェック"_s}, u"その他(情動行動)"_s},
        {u"(7) 不安及び不隠"_s, u"○不安不隠"_s, u"1 強度の不安・恐怖感　2 強迫体験　3 その他"_s + blanks,
         {u"不安恐怖"_s, u"強迫体験"_s, u"その他(不安不隠)チェック"_s}, u"その他(不安不隠)"_s},
        {u"(8) けいれん及び意識障害"_s, u"○痙攣意識障害"_s, u"1 けいれん　2 意識障害　3 その他"_s + blanks,
         {u"痙攣"_s, u"意識障害"_s, u"その他(痙攣意識障害)チェック"_s}, u"その他(痙攣意識障害)"_s},
        {u"(9) 精神作用物質の乱用及び依存"_s, u"○乱用依存"_s, u"1 アルコール　2 覚せい剤　3 有機溶剤　4 その他"_s + blanks,
         {u"アルコール"_s, u"覚せい剤"_s, u"有機溶剤"_s, u"その他(乱用依存)チェック"_s}, u"その他(乱用依存)"_s},
        {u"(10) 知能障害"_s, u"○知能障害"_s, u"1 知的障害（精神遅滞）　ア 軽度　イ 中等度　ウ 重度"_s,
         {u"精神遅滞"_s, u"軽度"_s, u"中度"_s, u"重度"_s}, {}},
    };
    // Each item is marked over its number, the degrees of (10) over their letters.
    const QStringList numbers{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s};
    const QStringList degrees{u"1"_s, u"ア"_s, u"イ"_s, u"ウ"_s};

    beginFrame();
    text(0, u"③　現在の病状、状態像等　（該当する項目を○で囲んでください。）"_s, kText, true);
    line();
    for (int g = 0; g < groups.size(); ++g) {
        const Group &group = groups.at(g);
        mark(text(kGroup - kInset, group.heading), group.flag, u"○"_s, QString::number(g + 1));
        line(kConditionLine);
        const Item items = text(kItems - kInset, group.items, kItemText);
        for (int i = 0; i < group.itemFlags.size(); ++i)
            mark(items, group.itemFlags.at(i), u"○"_s, (group.other.isEmpty() ? degrees : numbers).at(i));
        if (!group.other.isEmpty())
            fieldInside(items, group.other, u"("_s, u')');
        line(kConditionLine);
    }
    mark(text(kItems - kInset, u"2 痴呆"_s, kItemText), u"痴呆"_s, u"○"_s, u"2"_s);
    line(kConditionLine);
    endFrame();
}

} // namespace report
