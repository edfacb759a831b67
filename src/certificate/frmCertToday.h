#pragma once

#include "certificate/records/certificates.h"
#include "db/audit.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <QList>
#include <QMap>
#include <memory>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QGridLayout;

namespace Ui {
class frmCertToday;
}

Q_DECLARE_METATYPE(certificates::Certificate)

// One certificate of today's forms, opened modally from the patient's list of
// certificates with the certificate's ID, or with a new draft that is saved
// when the window is saved or closed.  Its fields follow the forms of its
// kinds section by section; a block both forms ask is entered once.  A draft
// is edited; an issued certificate is shown read-only, takes the validity
// the authority granted, and is corrected as a new version.
class frmCertToday : public toolkit::Form, public db::audit::PatientWindow
{
    Q_OBJECT

public:
    explicit frmCertToday(QWidget *parent = nullptr);
    ~frmCertToday() override;

    // As saved, or as handed before its first save.
    const certificates::Certificate &certificate() const { return m_certificate; }

    jet::Connection &trailConnection() override;
    // The certificate's patient; a certificate has no episode.
    db::audit::Event openingEvent() const override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    // A control of a form's field, by the group and field its value is stored under.
    struct Control
    {
        QString group;
        QString field;
        certificates::FieldKind kind = certificates::FieldKind::Text;
        QCheckBox *check = nullptr;
        QList<QPair<QString, QCheckBox *>> options;
        QList<QPair<QString, QLineEdit *>> optionTexts;
        QWidget *text = nullptr; // the field's text, or the text beside its check
        QString label;
        QMap<QString, QString> optionLabels; // by code
    };

    void openData();
    void build();
    void addSection(const certificates::Section &section, const QString &formName);
    void addConditions(const certificates::Form &form);
    void addFields(QGridLayout *grid, const QString &group, const QList<certificates::Field> &fields);
    void addDiagnosis(QGridLayout *grid, int row, const certificates::Field &field);
    void show(const certificates::Certificate &certificate);
    // The window's certificate with what its controls hold; false, with the
    // box shown, where a date cannot be read.
    bool fromControls(certificates::Certificate &certificate) const;
    QList<certificates::Item> items() const;
    void pickDiagnoses(certificates::Certificate &certificate) const;
    bool changed() const;
    // Another workstation's save of the same draft since it was read: its
    // changes of fields left alone here are taken in, a field changed on both
    // is put to the user.  False when the user went back to the window.
    bool settleWithStored(certificates::Certificate &mine);
    QString shown(const certificates::Item &item) const;
    bool save();
    bool letGoOfDeleted();
    void correct();
    void saveValidity();
    void suggestEnd(QLineEdit *from, QLineEdit *to, certificates::Kind kind);
    void showRange();

    std::unique_ptr<Ui::frmCertToday> ui;
    jet::Connection m_connection;
    std::unique_ptr<certificates::CertificateBook> m_book;
    certificates::Certificate m_certificate;
    QList<Control> m_controls;
    QComboBox *m_main = nullptr;
    QComboBox *m_second = nullptr;
    QList<QStringList> m_diagnoses; // ID, name, ICD code, as the combos list them
};
