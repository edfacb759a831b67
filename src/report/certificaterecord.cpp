#include "report/certificaterecord.h"

#include "certificate/records/extension.h"
#include "certificate/records/formcatalog.h"

#include <QSet>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace report::certificaterecord {

namespace {

// A code's dots and hyphens would read as a qualified name.
QString name(const QString &group, const QString &field)
{
    QString joined = group + u'_' + field;
    joined.replace(u'.', u'_').replace(u'-', u'_');
    return joined;
}

QString quoted(const QString &text)
{
    return u'\'' + QString(text).replace(u'\'', u"''"_s) + u'\'';
}

// The columns of the items, each once though several forms ask it.
class Columns
{
public:
    void add(const QString &expression, const QString &column)
    {
        if (m_seen.contains(column))
            return;
        m_seen.insert(column);
        m_list.append(u"%1 AS `%2`"_s.arg(expression, column));
    }
    QStringList list() const { return m_list; }

private:
    QSet<QString> m_seen;
    QStringList m_list;
};

QString items(const QString &select, const QString &group, const QString &where = {})
{
    return u"(SELECT %1 FROM `%2` AS t WHERE t.診断書ID = r.診断書ID AND t.群 = %3%4)"_s.arg(
        select, certificates::kItemTable, quoted(group), where);
}

QString ofField(const QString &field)
{
    return u" AND t.項目 = "_s + quoted(field);
}

void addField(Columns &columns, const QString &group, const certificates::Field &f)
{
    using certificates::FieldKind;
    switch (f.kind) {
    case FieldKind::Check:
        columns.add(items(u"Max(t.値)"_s, group, ofField(f.code)), value(group, f.code));
        break;
    case FieldKind::Choice:
    case FieldKind::Level:
        for (const certificates::Option &o : f.options) {
            columns.add(items(u"Count(t.値)"_s, group, ofField(f.code) + u" AND t.値 = "_s + quoted(o.code)),
                        option(group, f.code, o.code));
        }
        break;
    case FieldKind::Date:
        columns.add(items(u"Max(t.値)"_s, group, ofField(f.code)), date(group, f.code));
        break;
    case FieldKind::Text:
    case FieldKind::Diagnosis:
        break;
    }
    columns.add(items(u"Max(t.自由記載)"_s, group, ofField(f.code)), text(group, f.code));
}

void addSection(Columns &columns, const certificates::Section &s)
{
    for (const certificates::Field &f : s.fields)
        addField(columns, s.group, f);
}

} // namespace

QString value(const QString &group, const QString &field)
{
    return name(group, field);
}

QString option(const QString &group, const QString &field, const QString &option)
{
    return name(group, field) + u'_' + option;
}

QString text(const QString &group, const QString &field)
{
    return name(group, field) + u"_text"_s;
}

QString date(const QString &group, const QString &field)
{
    return name(group, field) + u"_date"_s;
}

QString anyOf(const QString &group)
{
    return name(group, u"any"_s);
}

QString sex(const QString &label)
{
    return u"性別_"_s + label;
}

QString sql()
{
    const certificates::FormCatalog &catalog = certificates::FormCatalog::instance();
    Columns columns;
    for (const certificates::Edition &edition : catalog.editions()) {
        for (const QString &id : {edition.medical, edition.handbook}) {
            const certificates::Form *form = catalog.form(id);
            if (!form)
                continue;
            for (const certificates::Field &f : form->header) {
                if (f.code == u"sex"_s)
                    for (const certificates::Option &o : f.options)
                        columns.add(u"IIf(s.略称 = %1, -1, 0)"_s.arg(quoted(o.label)), sex(o.label));
            }
            for (const certificates::Section &s : form->sections)
                addSection(columns, s);
            for (const certificates::ConditionGroup &g : form->conditions) {
                columns.add(items(u"Count(t.項目)"_s, g.code, u" AND (t.値 <> '' OR t.自由記載 <> '')"_s), anyOf(g.code));
                for (const certificates::Field &f : g.items)
                    addField(columns, g.code, f);
            }
        }
    }
    for (const certificates::Variant &v : catalog.variants())
        for (const certificates::Variant::Extra &extra : v.extras)
            addSection(columns, extra.section);
    // The age on the day the certificate is written, not on the day it is printed.
    const QString age = u"Int((DateDiff('m', p.生年月日, r.記載日) - IIf(Day(r.記載日) < Day(p.生年月日), 1, 0)) / 12)"_s;
    return u"SELECT r.*, p.氏名 AS 氏名, p.かな氏名 AS かな氏名, p.生年月日 AS 生年月日, p.郵便番号 AS 郵便番号, "
           u"p.住所 AS 住所, %1 AS 年齢, %2 FROM (`%3` AS r INNER JOIN 患者情報 AS p ON r.カルテID = p.カルテID) "
           u"LEFT JOIN 性別 AS s ON p.性別 = s.性別ID WHERE r.診断書ID = ?"_s.arg(age, columns.list().join(u", "_s),
                                                                         certificates::kRecordTable);
}

} // namespace report::certificaterecord
