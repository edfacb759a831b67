#pragma once

#include <QDate>
#include <QHash>
#include <QPair>
#include <QList>
#include <QString>
#include <QStringList>

namespace certificates {

// What a certificate is written for: the 自立支援医療（精神通院医療） application,
// the 精神障害者保健福祉手帳 application, or both on one record.
enum class Kind { Medical, Handbook };

// How a field of a form is filled in.
enum class FieldKind {
    Check,     // circled or not
    Choice,    // one of its options
    Level,     // one of its options, which are ordered
    Text,      // free text
    Date,      // a date, stored as yyyy-MM-dd
    Diagnosis, // a coded diagnosis, kept on the record itself
};

struct Option
{
    QString code;
    QString label;
    bool takesText = false; // "入所（施設名）": the option carries a text of its own
    QStringList icd;        // ICD categories the option stands for, where it depends on them
    QStringList conditions; // condition groups the option depends on
};

struct Field
{
    QString code;
    QString parent; // the field whose check enables this one, if any
    QString label;
    FieldKind kind = FieldKind::Text;
    bool takesText = false; // "その他（　）": a check with a text beside it
    bool confirmed = false; // false: the wording awaits a check against the model form
    int lines = 1;
    int maxLength = 0; // the characters a text may have; 0 for a field that is no text
    QList<Option> options;
};

// A block of a form: its number and title as printed, the code its values
// are stored under and the fields it asks.  The condition groups are one
// section whose group is "conditions"; their fields are the form's groups.
struct Section
{
    QString number;
    QString title;
    QString group;
    QString hint;
    bool confirmed = false;
    bool separateSheet = false; // printed on a sheet of its own (a prefecture's 意見書)
    QList<Field> fields;
};

struct ConditionGroup
{
    QString code; // "c1" .. "c12"
    QString number;
    QString title;
    bool confirmed = false;
    QList<Field> items;
};

struct Form
{
    QString id;
    Kind kind = Kind::Medical;
    QString title;
    int validityYears = 1;
    QList<Field> header;
    QList<Section> sections;
    QList<ConditionGroup> conditions;
    QList<Field> footer;
};

// A prefecture's variant of the forms: extra sections, a section printed on
// a sheet of its own, or one combined form for both applications.
struct Variant
{
    QString id;
    QString prefecture;
    bool handbookFormServesMedical = false;
    bool combinedForm = false;
    QString combinedTitle; // the combined form's title, where it has one
    struct Extra
    {
        QString form;
        QString after; // the group it follows
        Section section;
    };
    QList<Extra> extras;
    struct SeparateSheet
    {
        QString form;
        QString group;
        QString title;
        QStringList icd; // the ICD categories for which the sheet is required
    };
    QList<SeparateSheet> separateSheets;
};

// One edition of the forms: the medical and the handbook form issued together.
struct Edition
{
    QString id;
    QString title;
    QString medical;
    QString handbook;
    // The codes ("group/field") of the edition before this one that this
    // edition names otherwise, so that a renewal carries their values over.
    QHash<QString, QString> renamed;
};

// The forms' fixed texts, sections and condition groups, read from the data
// files built into the program, so that a new edition or a prefecture's
// variant is a data file rather than a change of the windows or layouts.
class FormCatalog
{
public:
    // The forms built into the program.  Throws jet::Error(err::GeneralFailure)
    // when a data file cannot be read.
    static const FormCatalog &instance();
    // The forms of the data files in a folder laid out as the built-in one,
    // for editions that are not yet the program's; throws as instance().
    explicit FormCatalog(const QString &folder);

    QList<Edition> editions() const { return m_editions; }
    QString currentEdition() const { return m_currentEdition; }
    QList<Variant> variants() const { return m_variants; }

    // Null when unknown.
    const Edition *edition(const QString &id) const;
    const Form *form(const QString &id) const;
    const Variant *variant(const QString &id) const;
    // The edition's form for a kind.
    const Form *form(const QString &edition, Kind kind) const;

    // The form's sections as the variant prints them: its extra sections in
    // their place, a section it moves to a sheet of its own marked so.
    QList<Section> sections(const QString &edition, Kind kind, const QString &variant) const;

    // Why a stored value is not one the edition's forms for the kinds ask
    // (empty when it is): an unknown group or field, an option the field
    // does not have, a date that is none.
    QString refusal(const QString &edition, const QList<Kind> &kinds, const QString &variant, const QString &group,
                    const QString &field, const QString &value) const;

    // Where a field of an older edition stands in the current one: its code
    // after the renames each later edition declares.
    QPair<QString, QString> renamedField(const QString &fromEdition, const QString &group, const QString &field) const;

    // A stored value as the edition's form names it, for a message: the
    // heading of its group or section, the field's label and the option's.
    QString describe(const QString &edition, const QList<Kind> &kinds, const QString &variant, const QString &group,
                     const QString &field, const QString &value) const;

    // The validity the authority usually grants, as a suggestion for the
    // user: from the day given, the form's years, to the day before.
    QDate suggestedValidityEnd(const QString &edition, Kind kind, const QDate &from) const;

private:
    const Field *findField(const QString &edition, const QList<Kind> &kinds, const QString &variant,
                           const QString &group, const QString &field, QString *heading = nullptr) const;

    QList<Edition> m_editions;
    QString m_currentEdition;
    QList<Form> m_forms;
    QList<Variant> m_variants;
};

QString kindName(Kind kind);

} // namespace certificates
