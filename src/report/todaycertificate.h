#pragma once

#include "certificate/records/formcatalog.h"
#include "report/layout.h"

#include <QHash>
#include <QStringList>

namespace report {

// Today's certificate forms, declared from the forms' data files: the title,
// the patient, each section in a frame with its fields, the condition groups
// as lines of items circled over their numbers and letters, and the signing
// block.  The form's edition and prefecture's variant are the record's, so
// the declaration is made again for the row it prints.  A section the
// variant moves to a sheet of its own prints on a second page when the main
// diagnosis needs it.
class TodayCertificate : public Layout
{
public:
    // The run-time labels of the signing block.
    static constexpr QStringView kInstitution = u"Inst_institution";
    static constexpr QStringView kLocation = u"Inst_location";
    static constexpr QStringView kTelephone = u"Inst_telephone";
    static constexpr QStringView kDepartment = u"Inst_department";

    std::unique_ptr<Layout> declaredFor(const Rows &rows) const override;

protected:
    // `separateSheet`: whether a section the variant moves to a sheet of its
    // own is printed there (when the main diagnosis needs it) or in place.
    TodayCertificate(const QString &layoutName, certificates::Kind kind, const QString &edition,
                     const QString &variant, bool separateSheet);

private:
    struct Piece;

    void addTitle(const QString &title);
    void addPatient(const QList<certificates::Field> &header);
    void addSection(const certificates::Section &section);
    void addConditions(const certificates::Section &section);
    void addFooter(const QList<certificates::Field> &footer);
    void beginFrame();
    void endFrame();

    Item &put(const Item &item);
    Item &label(int left, int width, const QString &text, double points, bool gothic = false);
    void fieldAt(int left, int width, const QString &column, const QString &format = {}, double points = kText);
    // A date item, written when the declaration is made for its row.
    void dateAt(int left, int width, const QString &column);
    void heading(const certificates::Section &section);
    void textBox(const QString &column, int lines);
    // Pieces of text set one after the other, broken into lines at the
    // frame's width, `indent` in from its edge after the first line.
    void flow(const QList<Piece> &pieces, int indent);
    QList<Piece> pieces(const QString &group, const certificates::Field &field, bool lettered) const;
    void abilities(const certificates::Section &section);

    static constexpr double kText = 7;
    static constexpr double kHeading = 8;
    static constexpr int kRow = 190;
    static constexpr int kHeadingRow = 210;
    static constexpr int kInset = 80;

    certificates::Kind m_kind;
    QString m_edition;
    QString m_variant;
    int m_y = 0;
    int m_frameTop = 0;
    int m_items = 0;
    QHash<QString, QString> m_dates; // label name, column
};

} // namespace report
