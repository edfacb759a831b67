#pragma once

#include "db/engine/connection.h"
#include "db/audit.h"
#include "db/engine/recordset.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QList>
#include <QString>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QWidget;

namespace toolkit {
class RecordBinding;
class RowFollower;
class StatusPanels;
}

namespace certificate {

// A bound control: its name, its column and, for text boxes, a display
// format and a maximum length of its own.
struct Field
{
    QString control;
    QString column;
    QString format = {};
    int maxLength = 0;
};

// A condition group: the box that switches it and the members it enables.
struct ConditionGroup
{
    QString box;
    QStringList members;
};

// What the printed certificate has room for on one line where the column
// itself holds more: the onset and first-visit dates, a group's "その他"
// text between its brackets, the physician's name.
constexpr int kOnsetLength = 13;
constexpr int kFirstVisitLength = 12;
constexpr int kOtherLength = 25;
constexpr int kPhysicianLength = 18;

// The fields both certificates open with, in binding order: the patient's
// name, birth date, postal code and address, the physical complications, the
// onset, `afterOnset`, then the history.
QList<Field> illnessFields(const QList<Field> &afterOnset = {});
// The fields both close with: welfare services, remarks, the physician's name.
QList<Field> closingFields();

// The ten condition groups of the current state, the same in both certificates.
const QList<ConditionGroup> &conditionGroups();
// Their controls and columns in binding order: group box, symptom boxes,
// "その他" box, text box.
QList<Field> conditionFields();

// The hint labels of a certificate window (those named "hint…"), set off
// from the fields they explain.
void styleHints(QWidget &window);

// A box that enables its members: unchecked, they are greyed but keep their
// values, and are saved as they are.
void enableWithBox(QCheckBox *box, const QList<QWidget *> &members);

// A refusal of the certificate book (an issued certificate, a value the
// forms do not ask, a correction another has overtaken, a record gone) is
// told under `what` with its cause, and the window stays as it was.
toolkit::ErrorTable bookRefusals(const QString &what);

// What the two certificate windows share: the window connection, the
// patient's certificate row joined to the patient row and narrowed to the
// outpatient ledger's current chart, the bound controls, the condition groups
// that enable their members without clearing them, the two diagnosis combos
// that refuse typing, the hint labels, saving and closing.
//
// Another workstation's change of the row is shown as the record windows
// show it.  Saving and closing store every edit.  A value the row refuses is answered
// with the warning, the other edits are stored, the refused control shows its
// stored value again and the window stays open.
class CertificateWindow : public toolkit::Form, public db::audit::PatientWindow
{
    Q_OBJECT

public:
    ~CertificateWindow() override;

    jet::Connection &trailConnection() override;
    // The chart of the certificate shown; a certificate has no episode.
    db::audit::Event openingEvent() const override;

    // The certificate row's chart: the outpatient ledger's current row.
    static QString chartFromLedger();

protected:
    CertificateWindow(const QString &captionSuffix, QWidget *parent);

    // From the subclass's constructor, once its controls exist: the bound
    // controls in binding order.
    void prepare(const QList<Field> &fields);

    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    template <class T>
    T *control(const QString &name) const;
    void openData();
    void bindDiagnosis(QComboBox *box, const QString &column);
    bool writeRow(toolkit::SaveMoment moment = toolkit::SaveMoment::Saving);
    void closeData();

    QString m_captionSuffix;
    QList<Field> m_fields;
    jet::Connection m_connection;
    jet::Recordset m_data;
    std::vector<std::unique_ptr<jet::Recordset>> m_lists;
    std::unique_ptr<toolkit::RecordBinding> m_binding;
    toolkit::StatusPanels *m_status = nullptr;
    // Another workstation's change of the row: read again, or with edits
    // told in the status bar.  It goes before what it follows.
    std::unique_ptr<toolkit::RowFollower> m_follower;
};

} // namespace certificate
