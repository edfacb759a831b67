#pragma once

#include "certificate/records/certificates.h"
#include "db/audit.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <functional>
#include <memory>

namespace Ui {
class frmCertList;
}

// One patient's certificates of today's forms, newest first, opened modally
// from a ledger with the patient's chart: new ones are written, renewed from
// the last one, opened, printed and marked issued here.
class frmCertList : public toolkit::Form, public db::audit::PatientWindow
{
    Q_OBJECT

public:
    explicit frmCertList(QWidget *parent = nullptr);
    ~frmCertList() override;

    jet::Connection &trailConnection() override;
    // The patient whose certificates are listed.
    db::audit::Event openingEvent() const override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void openData();
    void refresh(int select = 0);
    // The ID of the chosen row; 0 when none is chosen.
    int chosen() const;
    void write(const std::function<certificates::Certificate(const QDate &today)> &make, const QString &refused);
    void create(bool medical, bool handbook);
    void copyFromLast();
    void open();
    void print();
    void issue();

    std::unique_ptr<Ui::frmCertList> ui;
    jet::Connection m_connection;
    std::unique_ptr<certificates::CertificateBook> m_book;
    int m_chart = 0;
    QString m_name;
};
