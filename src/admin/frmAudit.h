#pragma once

#include "db/auditquery.h"
#include "db/engine/connection.h"
#include "report/page.h"
#include "toolkit/form.h"

#include <QList>
#include <memory>
#include <optional>

namespace Ui {
class frmAudit;
}

// The administrator's audit window: the trail's rows by period, account,
// patient and action, newest first and a page at a time, for a trail may hold
// millions of rows; the rows found exported to a spreadsheet or printed,
// which the trail records in turn; and a check of the trail's chain.
class frmAudit : public toolkit::Form
{
    Q_OBJECT

public:
    static constexpr int kPageRows = 500;
    // More rows than that are for a spreadsheet, not for paper.
    static constexpr int kPrintedRows = 10000;

    explicit frmAudit(QWidget *parent = nullptr);
    ~frmAudit() override;

    // The filter 検索 last took from the controls.
    const db::audit::TrailFilter &filter() const { return m_filter; }
    qint64 rowsFound() const { return m_found; }
    // The printed pages of the rows found.
    QList<report::Page> printedPages();

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void search();
    void showPage();
    void verifyChain();
    void print();
    void exportRows();
    // False, with a message, for a chart or episode that is no number.
    bool takeFilter();
    QString conditionsText() const;
    void fillLists();

    std::unique_ptr<Ui::frmAudit> ui;
    jet::Connection m_connection;
    db::audit::TrailFilter m_filter;
    qint64 m_found = 0;
    // Where each page shown so far begins: after that row, or at the newest.
    QList<std::optional<qint64>> m_pageStarts;
    QList<db::audit::TrailRow> m_rows; // the page shown
};
