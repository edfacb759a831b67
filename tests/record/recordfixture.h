#pragma once

#include "app/navigation.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "db/schema.h"
#include "support/fixture.h"
#include "support/scripted.h"
#include "toolkit/datagrid.h"
#include "toolkit/form.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVariant>
#include <gtest/gtest.h>

namespace testing_support {

// A record window opened the way the user opens it: its ledger shown on the
// ward database, the episode's grid row chosen, 開く, and the record window
// loaded while the ledger is still there.
class RecordWindowTest : public ::testing::Test
{
protected:
    explicit RecordWindowTest(Backend backend = Backend::File) : ward(backend) {}

    void SetUp() override
    {
        program.services->setProgramFolder(folder.path());
        writeLocation(ward.path());
    }

    void TearDown() override
    {
        for (const QString &name : registered)
            app::unregisterWindow(name);
    }

    template <class T>
    void registerWindow(const QString &name)
    {
        app::registerWindow<T>(name);
        registered << name;
    }

    void writeLocation(const QString &databasePath)
    {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(databasePath.toUtf8() + "\r\n");
    }

    // Shows the ledger, selects the episode's row and opens it; the record
    // window, or nullptr when none is loaded afterwards.
    template <class Record>
    Record *open(const QString &ledgerName, int episode)
    {
        app::showWindow(ledgerName);
        toolkit::Form *ledger = app::findWindow(ledgerName);
        if (!ledger)
            return nullptr;
        toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, QStringLiteral("DataGrid1"));
        int row = 0;
        while (row < grid->model()->rowCount() && grid->value(row, QStringLiteral("入退院ID")).toInt() != episode)
            ++row;
        EXPECT_LT(row, grid->model()->rowCount()) << "episode " << episode << " is not listed";
        grid->setCurrentRow(row);
        emit grid->clicked();
        ledger->findChild<QAction *>(QStringLiteral("mnuFileOpen"))->trigger();
        QCoreApplication::processEvents();
        return toolkit::Forms::find<Record>();
    }

    // A control of the window by name; a failure when there is none.
    template <class T = QLineEdit>
    static T *field(const QWidget *window, const char *name)
    {
        auto *widget = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // One stored value of the database, as read afresh.
    QVariant stored(const QString &sql, const QVariantList &parameters = {})
    {
        jet::Recordset rows;
        rows.openCommand(sql, &ward.connection(), parameters);
        return rows.eof() ? QVariant() : rows.value(0);
    }

    int rowsOf(const QString &table, int episode)
    {
        return stored(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE 入退院ID = ?").arg(table), {episode}).toInt();
    }

    // A database whose upgrade to 2.112 left out one column (個別注意事項 is
    // the generation before the precautions), with one patient and one
    // episode (an outpatient course or an admission) and no companion rows.
    QString databaseWithout(const QString &column, bool outpatient)
    {
        const QString path = QDir(folder.path()).filePath(QStringLiteral("old.mdb"));
        db::createDatabase(path, db::Generation::V2086);
        jet::Connection connection;
        connection.setProvider(db::shapingProvider());
        connection.open(db::shapedConnectionString(path));
        jet::Catalog catalog;
        catalog.setActiveConnection(&connection);
        catalog.createTable(db::outOfHoursTable());
        for (const db::AddedColumn &added : db::columnsAddedBy2112()) {
            if (added.column.name != column)
                catalog.appendColumn(added.table, added.column);
        }
        connection.execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名) VALUES (1, '山田')"));
        connection.execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 外入の別) VALUES (1, ?)"), {outpatient ? -1 : 0});
        return path;
    }

    QList<toolkit::MessageBoxRequest> boxes() const
    {
        QList<toolkit::MessageBoxRequest> requests;
        for (const auto &box : program.services->boxes())
            requests << box.request;
        return requests;
    }

    WardDatabase ward;
    ScriptedProgram program;
    QTemporaryDir folder;
    QStringList registered;
};

// 800×600 with a title bar: every field of every tab can be scrolled into sight whole.
inline void expectFitsEightHundredBySixHundred(QWidget *window)
{
    window->show();
    window->resize(800, 560);
    EXPECT_EQ(window->size(), QSize(800, 560));
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("SSTab1"));
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        auto *area = qobject_cast<QScrollArea *>(tabs->widget(page));
        ASSERT_NE(area, nullptr) << "page " << page << " does not scroll";
        for (QWidget *field : area->widget()->findChildren<QWidget *>()) {
            if (!field->isVisible() || !field->focusPolicy() || field->inherits("QScrollBar"))
                continue;
            area->verticalScrollBar()->setValue(field->mapTo(area->widget(), QPoint(0, field->height())).y()
                                                - area->viewport()->height());
            EXPECT_EQ(field->visibleRegion().boundingRect().size(), field->size()) << field->objectName().toStdString();
        }
    }
}

} // namespace testing_support
