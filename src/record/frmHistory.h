#pragma once

#include "db/audit.h"
#include "db/auditquery.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace Ui {
class frmHistory;
}

// The change history of the patient a record window shows: the patient's
// own fields and the episode's, newest first, each change with the value
// before and the value it took.  The record window hands it the patient
// (record::historyOf) as it opens; seeing the history is seeing the
// patient's data, so its opening is recorded as a record window's is.
class frmHistory : public toolkit::Form, public db::audit::PatientWindow
{
    Q_OBJECT

public:
    explicit frmHistory(QWidget *parent = nullptr);
    ~frmHistory() override;

    jet::Connection &trailConnection() override;
    db::audit::Event openingEvent() const override;

    const QList<db::audit::HistoryEntry> &entries() const { return m_entries; }

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void showEntries();

    std::unique_ptr<Ui::frmHistory> ui;
    jet::Connection m_connection;
    std::optional<qint64> m_chart;
    std::optional<qint64> m_episode;
    QString m_patient; // the record window's title
    QList<db::audit::HistoryEntry> m_entries;
};

namespace record {

// What a record window hands the history as it opens it: the patient's
// chart, the episode and the window's title.
QVariant historyOf(const std::optional<qint64> &chart, const std::optional<qint64> &episode, const QString &title);

} // namespace record
