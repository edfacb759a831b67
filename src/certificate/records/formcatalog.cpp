#include "certificate/records/formcatalog.h"

#include "db/engine/error.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

// Resources of a static library are registered only when asked for by name.
static void registerFormResources()
{
    Q_INIT_RESOURCE(forms);
}

namespace certificates {

using namespace Qt::StringLiterals;

namespace {

const QString kFolder = u":/certificate/forms/"_s;

QJsonObject readObject(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw jet::Error(jet::err::GeneralFailure, u"診断書の様式データ %1 を読めません。"_s.arg(path));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw jet::Error(jet::err::GeneralFailure,
                         u"診断書の様式データ %1 が壊れています（%2）。"_s.arg(path, error.errorString()));
    return document.object();
}

FieldKind fieldKind(const QString &name, const QString &path)
{
    static const QList<std::pair<QString, FieldKind>> kinds{
        {u"check"_s, FieldKind::Check}, {u"choice"_s, FieldKind::Choice}, {u"level"_s, FieldKind::Level},
        {u"text"_s, FieldKind::Text},   {u"date"_s, FieldKind::Date},     {u"diagnosis"_s, FieldKind::Diagnosis},
    };
    for (const auto &[key, kind] : kinds)
        if (key == name)
            return kind;
    throw jet::Error(jet::err::GeneralFailure, u"診断書の様式データ %1 に不明な項目の種類 %2 があります。"_s.arg(path, name));
}

QStringList strings(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &entry : value.toArray())
        list.append(entry.toString());
    return list;
}

QList<Option> options(const QJsonArray &array)
{
    QList<Option> list;
    for (const QJsonValue &value : array) {
        const QJsonObject o = value.toObject();
        list.append({o.value(u"code"_s).toString(), o.value(u"label"_s).toString(), o.value(u"text"_s).toBool(),
                     strings(o.value(u"icd"_s)), strings(o.value(u"conditions"_s))});
    }
    return list;
}

Field field(const QJsonObject &o, const QJsonObject &levels, const QString &path)
{
    Field f;
    f.code = o.value(u"code"_s).toString();
    f.parent = o.value(u"parent"_s).toString();
    f.label = o.value(u"label"_s).toString();
    f.kind = fieldKind(o.value(u"kind"_s).toString(), path);
    f.takesText = o.value(u"text"_s).toBool();
    f.confirmed = o.value(u"confirmed"_s).toBool();
    f.lines = o.value(u"lines"_s).toInt(1);
    f.maxLength = o.value(u"max"_s).toInt();
    // Ability areas share their scales; the form names the scale.
    const QString scale = o.value(u"levels"_s).toString();
    f.options = options(scale.isEmpty() ? o.value(u"options"_s).toArray() : levels.value(scale).toArray());
    if ((f.kind == FieldKind::Choice || f.kind == FieldKind::Level) && f.options.isEmpty())
        throw jet::Error(jet::err::GeneralFailure,
                         u"診断書の様式データ %1 の項目 %2 に選択肢がありません。"_s.arg(path, f.code));
    return f;
}

QList<Field> fields(const QJsonArray &array, const QJsonObject &levels, const QString &path)
{
    QList<Field> list;
    for (const QJsonValue &value : array)
        list.append(field(value.toObject(), levels, path));
    return list;
}

Section section(const QJsonObject &o, const QJsonObject &levels, const QString &path)
{
    Section s;
    s.number = o.value(u"number"_s).toString();
    s.title = o.value(u"title"_s).toString();
    s.group = o.value(u"group"_s).toString();
    s.hint = o.value(u"hint"_s).toString();
    s.confirmed = o.value(u"confirmed"_s).toBool();
    s.fields = fields(o.value(u"fields"_s).toArray(), levels, path);
    return s;
}

QList<ConditionGroup> conditionGroups(const QString &folder, const QString &id)
{
    const QString path = folder + id + u".json"_s;
    const QJsonObject root = readObject(path);
    QList<ConditionGroup> groups;
    for (const QJsonValue &value : root.value(u"groups"_s).toArray()) {
        const QJsonObject o = value.toObject();
        groups.append({o.value(u"code"_s).toString(), o.value(u"number"_s).toString(), o.value(u"title"_s).toString(),
                       o.value(u"confirmed"_s).toBool(), fields(o.value(u"items"_s).toArray(), {}, path)});
    }
    return groups;
}

Form form(const QString &folder, const QString &id)
{
    const QString path = folder + id + u".json"_s;
    const QJsonObject root = readObject(path);
    const QJsonObject levels = root.value(u"levels"_s).toObject();
    Form f;
    f.id = root.value(u"id"_s).toString();
    f.kind = root.value(u"kind"_s).toString() == u"handbook"_s ? Kind::Handbook : Kind::Medical;
    f.title = root.value(u"title"_s).toString();
    f.validityYears = root.value(u"validityYears"_s).toInt(1);
    f.header = fields(root.value(u"header"_s).toArray(), levels, path);
    for (const QJsonValue &value : root.value(u"sections"_s).toArray())
        f.sections.append(section(value.toObject(), levels, path));
    f.footer = fields(root.value(u"footer"_s).toArray(), levels, path);
    f.conditions = conditionGroups(folder, root.value(u"conditions"_s).toString());
    return f;
}

Variant variant(const QString &path)
{
    const QJsonObject root = readObject(path);
    Variant v;
    v.id = root.value(u"id"_s).toString();
    v.prefecture = root.value(u"prefecture"_s).toString();
    v.handbookFormServesMedical = root.value(u"handbookFormServesMedical"_s).toBool();
    v.combinedForm = root.value(u"combinedForm"_s).toBool();
    for (const QJsonValue &value : root.value(u"differences"_s).toArray()) {
        const QJsonObject o = value.toObject();
        const QString form = o.value(u"form"_s).toString();
        if (o.contains(u"section"_s))
            v.extras.append({form, o.value(u"after"_s).toString(), section(o.value(u"section"_s).toObject(), {}, path)});
        if (v.combinedForm && !o.contains(u"section"_s) && !o.contains(u"group"_s))
            v.combinedTitle = o.value(u"title"_s).toString();
        if (o.value(u"separateSheet"_s).toBool())
            v.separateSheets.append({form, o.value(u"group"_s).toString(), o.value(u"title"_s).toString(),
                                     strings(o.value(u"icd"_s))});
    }
    return v;
}

bool isDate(const QString &value)
{
    return QDate::fromString(value, Qt::ISODate).isValid();
}

} // namespace

QString kindName(Kind kind)
{
    return kind == Kind::Medical ? u"自立支援医療"_s : u"手帳"_s;
}

const FormCatalog &FormCatalog::instance()
{
    static const FormCatalog catalog = [] {
        registerFormResources();
        return FormCatalog(kFolder);
    }();
    return catalog;
}

FormCatalog::FormCatalog(const QString &folder)
{
    const QString root = folder.endsWith(u'/') ? folder : folder + u'/';
    const QJsonObject editions = readObject(root + u"editions.json"_s);
    for (const QJsonValue &value : editions.value(u"editions"_s).toArray()) {
        const QJsonObject o = value.toObject();
        Edition edition{o.value(u"id"_s).toString(), o.value(u"title"_s).toString(), o.value(u"medical"_s).toString(),
                        o.value(u"handbook"_s).toString(), {}};
        const QJsonObject renamed = o.value(u"renamed"_s).toObject();
        for (auto it = renamed.begin(); it != renamed.end(); ++it)
            edition.renamed.insert(it.key(), it.value().toString());
        m_editions.append(edition);
        for (const QString &id : {edition.medical, edition.handbook})
            if (!this->form(id))
                m_forms.append(certificates::form(root, id));
    }
    m_currentEdition = editions.value(u"current"_s).toString();
    const QDir variants(root + u"variants"_s);
    for (const QString &name : variants.entryList({u"*.json"_s}, QDir::Files, QDir::Name))
        m_variants.append(certificates::variant(variants.filePath(name)));
    if (!edition(m_currentEdition))
        throw jet::Error(jet::err::GeneralFailure, u"診断書の様式データに現在の様式がありません。"_s);
}

const Edition *FormCatalog::edition(const QString &id) const
{
    for (const Edition &e : m_editions)
        if (e.id == id)
            return &e;
    return nullptr;
}

const Form *FormCatalog::form(const QString &id) const
{
    for (const Form &f : m_forms)
        if (f.id == id)
            return &f;
    return nullptr;
}

const Variant *FormCatalog::variant(const QString &id) const
{
    for (const Variant &v : m_variants)
        if (v.id == id)
            return &v;
    return nullptr;
}

const Form *FormCatalog::form(const QString &edition, Kind kind) const
{
    const Edition *e = this->edition(edition);
    if (!e)
        return nullptr;
    return form(kind == Kind::Medical ? e->medical : e->handbook);
}

QList<Section> FormCatalog::sections(const QString &edition, Kind kind, const QString &variant) const
{
    const Form *f = form(edition, kind);
    if (!f)
        return {};
    QList<Section> result = f->sections;
    const Variant *v = this->variant(variant);
    if (!v)
        return result;
    for (const Variant::Extra &extra : v->extras) {
        if (extra.form != f->id)
            continue;
        qsizetype at = result.size();
        for (qsizetype i = 0; i < result.size(); ++i)
            if (result.at(i).group == extra.after)
                at = i + 1;
        result.insert(at, extra.section);
    }
    for (const Variant::SeparateSheet &sheet : v->separateSheets) {
        if (sheet.form != f->id)
            continue;
        for (Section &s : result)
            if (s.group == sheet.group)
                s.separateSheet = true;
    }
    return result;
}

const Field *FormCatalog::findField(const QString &edition, const QList<Kind> &kinds, const QString &variant,
                                   const QString &group, const QString &field, QString *heading) const
{
    // Headed as the form prints them: "(3) 幻覚妄想状態", "⑨　備考".
    const auto found = [heading](const QString &caption, const Field &item) {
        if (heading)
            *heading = caption.trimmed();
        return &item;
    };
    for (Kind kind : kinds) {
        const Form *f = form(edition, kind);
        if (!f)
            continue;
        for (const ConditionGroup &g : f->conditions)
            if (g.code == group)
                for (const Field &item : g.items)
                    if (item.code == field)
                        return found(u"(%1) %2"_s.arg(g.number, g.title), item);
        // The sections come from the catalog's own lists, so the pointers
        // stay valid; the variant's extras are looked up in the variant.
        for (const Section &s : f->sections)
            if (s.group == group)
                for (const Field &item : s.fields)
                    if (item.code == field)
                        return found(s.number + u'　' + s.title, item);
        if (const Variant *v = this->variant(variant))
            for (const Variant::Extra &extra : v->extras)
                if (extra.form == f->id && extra.section.group == group)
                    for (const Field &item : extra.section.fields)
                        if (item.code == field)
                            return found(extra.section.number + u'　' + extra.section.title, item);
    }
    return nullptr;
}

QPair<QString, QString> FormCatalog::renamedField(const QString &fromEdition, const QString &group,
                                                  const QString &field) const
{
    QString code = group + u'/' + field;
    bool later = false;
    for (const Edition &e : m_editions) {
        if (later)
            code = e.renamed.value(code, code);
        if (e.id == m_currentEdition)
            break;
        later = later || e.id == fromEdition;
    }
    const qsizetype slash = code.indexOf(u'/');
    return {code.left(slash), code.mid(slash + 1)};
}

QString FormCatalog::describe(const QString &edition, const QList<Kind> &kinds, const QString &variant,
                              const QString &group, const QString &field, const QString &value) const
{
    QString heading;
    const Field *f = findField(edition, kinds, variant, group, field, &heading);
    if (!f)
        return group + u'/' + field;
    QString text = heading;
    if (!f->label.isEmpty())
        text += u"："_s + f->label;
    for (const Option &option : f->options)
        if (option.code == value)
            text += u"（"_s + option.label + u"）"_s;
    return text;
}

QString FormCatalog::refusal(const QString &edition, const QList<Kind> &kinds, const QString &variant,
                             const QString &group, const QString &field, const QString &value) const
{
    const Field *f = findField(edition, kinds, variant, group, field);
    if (!f || f->kind == FieldKind::Diagnosis)
        return u"様式 %1 に項目 %2/%3 はありません。"_s.arg(edition, group, field);
    switch (f->kind) {
    case FieldKind::Check:
        if (!value.isEmpty() && value != u"1"_s)
            return u"項目 %1/%2 の値 %3 はチェックの値ではありません。"_s.arg(group, field, value);
        break;
    case FieldKind::Choice:
    case FieldKind::Level:
        if (!value.isEmpty() && std::none_of(f->options.begin(), f->options.end(),
                                             [&](const Option &o) { return o.code == value; }))
            return u"項目 %1/%2 に選択肢 %3 はありません。"_s.arg(group, field, value);
        break;
    case FieldKind::Date:
        if (!value.isEmpty() && !isDate(value))
            return u"項目 %1/%2 の値 %3 は日付ではありません。"_s.arg(group, field, value);
        break;
    case FieldKind::Text:
    case FieldKind::Diagnosis:
        break;
    }
    return {};
}

QDate FormCatalog::suggestedValidityEnd(const QString &edition, Kind kind, const QDate &from) const
{
    const Form *f = form(edition, kind);
    if (!f || !from.isValid())
        return {};
    return from.addYears(f->validityYears).addDays(-1);
}

} // namespace certificates
