#include "db/audit.h"
#include "db/auditquery.h"
#include "db/copy.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"
#include "db/episodes.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/session.h"
#include "support/backend.h"
#include "support/fixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace testing_support;
namespace audit = db::audit;

namespace {

bool anyFinding(const audit::Verification &result, const QString &part)
{
    return std::any_of(result.findings.cbegin(), result.findings.cend(),
                       [&part](const QString &finding) { return finding.contains(part); });
}

qint64 countOf(jet::Connection &connection, const QString &sql)
{
    jet::Recordset count;
    count.open(sql, &connection, jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    return count.value(0).toLongLong();
}

class AuditTrail : public ::testing::TestWithParam<Backend> {};
INSTANTIATE_TEST_SUITE_P(Ward, AuditTrail, ::testing::Values(Backend::File, Backend::Server),
                         ::testing::PrintToStringParamName());

// Two workstations register at the same moment: their events take turns on
// the head, and the chain they leave is whole.
TEST_P(AuditTrail, AppendsFromTwoProcessesAtOnceLeaveOneSoundChain)
{
    QTemporaryDir folder;
    std::optional<ServerDatabase> server;
    if (GetParam() == Backend::Server)
        server.emplace(testServerConninfo());
    const QString location = server ? QString::fromUtf8(server->conninfo()) : folder.filePath(u"norva2000.mdb"_s);
    db::createDatabase(location, db::Generation::V2112);
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(location));
        audit::extendDatabase(connection);
    }
    jet::releasePooledHandles(location);
    QProcess processes[2];
    for (int p = 0; p < 2; ++p)
        processes[p].start(QStringLiteral(NORVA_CRASHTEST), {u"--register"_s, location, QString::number(p * 1000), u"100"_s});
    for (QProcess &process : processes) {
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    const audit::Verification result = audit::verify(connection);
    EXPECT_TRUE(result.sound()) << result.findings.join(u'\n').toStdString();
    EXPECT_EQ(result.head.count, 200);
    EXPECT_EQ(result.rows, 200);
    EXPECT_EQ(countOf(connection, u"SELECT Count(*) FROM 監査記録 INNER JOIN 入退院情報 ON 監査記録.入退院ID = "
                                  "入退院情報.入退院ID AND 監査記録.カルテID = 入退院情報.カルテID WHERE 操作 = '入退院登録'"_s),
              200);
    connection.close();
    jet::releasePooledHandles(location);
}

// Each change made behind the program's back, inside a transaction that
// is rolled back before the next.
TEST_P(AuditTrail, AlteredDeletedAndInsertedRowsAndACutTailAreEachFound)
{
    BackendDatabase database(GetParam());
    jet::Connection &connection = database.connection();
    audit::extendDatabase(connection);
    for (int i = 1; i <= 5; ++i)
        audit::append(connection, {u"テスト"_s, i == 3 ? QString() : u"詳細 %1"_s.arg(i), 1000 + i, {}});
    const audit::Head noted = audit::head(connection);
    ASSERT_EQ(noted.count, 5);
    ASSERT_TRUE(audit::verify(connection, noted).sound());
    const auto behindTheBack = [&](const QStringList &statements) {
        jet::Transaction meddling(connection);
        for (const QString &sql : statements)
            connection.execute(sql);
        return audit::verify(connection, noted);
    };

    // Null and the empty text are told apart.
    EXPECT_TRUE(anyFinding(behindTheBack({u"UPDATE 監査記録 SET 詳細 = '' WHERE 記録番号 = 3"_s}), u"記録番号 3 の内容"_s));
    EXPECT_TRUE(anyFinding(behindTheBack({u"UPDATE 監査記録 SET カルテID = 7 WHERE 記録番号 = 2"_s}), u"記録番号 2 の内容"_s));
    const audit::Verification deleted = behindTheBack({u"DELETE FROM 監査記録 WHERE 記録番号 = 3"_s});
    EXPECT_EQ(deleted.findings, QStringList{u"記録番号 3〜3 がありません（削除されています）。"_s});
    {
        // A row appended with a sound hash but the head left as it was.
        jet::Transaction meddling(connection);
        audit::append(connection, {u"テスト"_s, u"後から"_s, {}, {}});
        connection.execute(u"UPDATE 監査記録先頭 SET 件数 = ?, ハッシュ = ?"_s, {noted.count, noted.hash});
        EXPECT_TRUE(anyFinding(audit::verify(connection), u"記録番号 6〜6 が先頭の記録（5 件）より後に"_s));
    }
    {
        // The tail and the head cut back together: only the noted head tells.
        jet::Transaction meddling(connection);
        jet::Recordset third;
        third.open(u"SELECT ハッシュ FROM 監査記録 WHERE 記録番号 = 3"_s, &connection);
        const QString hash = third.value(0).toString();
        third.close();
        connection.execute(u"DELETE FROM 監査記録 WHERE 記録番号 > 3"_s);
        connection.execute(u"UPDATE 監査記録先頭 SET 件数 = 3, ハッシュ = ?"_s, {hash});
        EXPECT_TRUE(audit::verify(connection).sound());
        EXPECT_TRUE(anyFinding(audit::verify(connection, noted), u"末尾が切り取られています"_s));
    }
    EXPECT_TRUE(audit::verify(connection, noted).sound());
}

// The hash covers the same bytes on either back end: a file's trail copied
// to a server verifies there as it did on the file.
TEST(AuditTrailCopied, AFilesTrailVerifiesOnTheServerItWasCopiedTo)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(u"norva2000.mdb"_s);
    db::createDatabase(file, db::Generation::V2112);
    audit::Head noted;
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(file));
        audit::extendDatabase(connection);
        audit::append(connection, {u"テスト"_s, u"引用符\"と,区切り"_s, 1001, 7});
        audit::append(connection, {u"テスト"_s, QString(), {}, {}});
        noted = audit::head(connection);
    }
    jet::releasePooledHandles(file);
    ServerDatabase server(testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    db::copyDatabase(file, location, {});
    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    const audit::Verification result = audit::verify(connection, noted);
    EXPECT_TRUE(result.sound()) << result.findings.join(u'\n').toStdString();
    EXPECT_EQ(result.head, noted);
    connection.close();
    jet::releasePooledHandles(location);
}

class ChangeHistory : public ::testing::TestWithParam<Backend> {};
INSTANTIATE_TEST_SUITE_P(Ward, ChangeHistory, ::testing::Values(Backend::File, Backend::Server),
                         ::testing::PrintToStringParamName());

// A save keeps each changed column's previous value with the save; a save
// refused for another workstation's change keeps nothing.
TEST_P(ChangeHistory, ASaveKeepsItsPreviousValuesAndARefusedSaveNone)
{
    WardDatabase ward(GetParam());
    audit::extendDatabase(ward.connection());
    const std::unique_ptr<jet::Connection> window = ward.connect();
    audit::recordChanges(*window);
    jet::Recordset row;
    row.open(db::kEpisodeSql.toString(), window.get());
    row.setFilter(u"入退院情報.入退院ID = 1"_s);
    ASSERT_FALSE(row.eof());
    const QString note = row.value(u"個別注意事項"_s).toString();
    row.setValue(u"氏名"_s, u"山田太朗"_s);
    row.setValue(u"個別注意事項"_s, u"転倒に注意"_s);
    row.update();

    jet::Recordset history;
    history.open(u"SELECT 表, キー, 列, 旧値, カルテID, 入退院ID, アカウント FROM 変更履歴 ORDER BY 履歴ID"_s, window.get());
    ASSERT_EQ(history.recordCount(), 2);
    const auto rowText = [&history] {
        QStringList values;
        for (int i = 0; i < 6; ++i)
            values.append(history.value(i).isNull() ? u"Null"_s : history.value(i).toString());
        return values.join(u'|');
    };
    EXPECT_EQ(rowText(), u"患者情報|1001|氏名|山田太郎|1001|Null"_s);
    EXPECT_TRUE(history.value(6).toString().startsWith(db::kSystemUserMark));
    history.moveNext();
    EXPECT_EQ(rowText(), u"入退院情報|1|個別注意事項|%1|1001|1"_s.arg(note));
    history.close();
    const audit::Verification trail = audit::verify(*window);
    EXPECT_TRUE(trail.sound());
    EXPECT_EQ(trail.rows, 2); // one save event per table written

    ward.connection().execute(u"UPDATE 入退院情報 SET 個別注意事項 = '別の端末' WHERE 入退院ID = 1"_s);
    row.setValue(u"氏名"_s, u"山田太郎"_s);
    row.setValue(u"個別注意事項"_s, u"離院に注意"_s);
    try {
        row.update();
        ADD_FAILURE() << "the save overwrote another workstation's change";
    } catch (const jet::Error &error) {
        EXPECT_EQ(error.number(), jet::err::DataChanged);
    }
    EXPECT_EQ(countOf(*window, u"SELECT Count(*) FROM 変更履歴"_s), 2);
    EXPECT_EQ(audit::head(*window).count, 2);
    row.cancelUpdate();
    row.close();
}

// A code table's row added and deleted keeps its values as an update keeps
// its old ones; a registration and a deletion of an episode stay one event each.
TEST_P(ChangeHistory, ARowAddedAndDeletedKeepsItsValuesAndEpisodesStayOneEventEach)
{
    WardDatabase ward(GetParam());
    audit::extendDatabase(ward.connection());
    const std::unique_ptr<jet::Connection> window = ward.connect();
    audit::recordChanges(*window);
    jet::Recordset physicians;
    physicians.open(u"SELECT * FROM 主治医"_s, window.get());
    physicians.addNew({u"主治医"_s}, {u"新井"_s});
    const QString key = physicians.value(u"主治医ID"_s).toString();
    physicians.deleteCurrent();
    physicians.close();

    const auto rows = [&](const QString &sql) {
        jet::Recordset found;
        found.open(sql, window.get());
        QStringList texts;
        for (; !found.eof(); found.moveNext())
            texts.append(found.value(0).toString());
        return texts;
    };
    EXPECT_EQ(rows(u"SELECT 変更 & '|' & キー & '|' & 列 & '|' & IIf(旧値 Is Null, 'Null', 旧値) FROM 変更履歴 ORDER BY 履歴ID"_s),
              (QStringList{u"追加|%1|主治医|Null"_s.arg(key), u"削除|%1|主治医ID|%1"_s.arg(key), u"削除|%1|主治医|新井"_s.arg(key)}));
    EXPECT_EQ(rows(u"SELECT 詳細 FROM 監査記録 WHERE 操作 = '保存' ORDER BY 記録番号"_s),
              (QStringList{u"主治医: 追加 キー %1（主治医）"_s.arg(key), u"主治医: 削除 キー %1"_s.arg(key)}));

    const qint64 before = audit::head(*window).count;
    const qint64 episode = db::registerEpisode(*window, 1009);
    db::deleteEpisode(*window, episode);
    EXPECT_EQ(rows(u"SELECT 操作 FROM 監査記録 WHERE 記録番号 > %1 ORDER BY 記録番号"_s.arg(before)),
              (QStringList{u"入退院登録"_s, u"入退院削除"_s}));
    EXPECT_EQ(countOf(*window, u"SELECT Count(*) FROM 変更履歴"_s), 3);
    const audit::Verification trail = audit::verify(*window);
    EXPECT_TRUE(trail.sound()) << trail.findings.join(u'\n').toStdString();
}

// Each change's value after is the next one's value before, the last one's
// the value stored now; a row deleted has none.
TEST_P(ChangeHistory, APatientsHistoryPairsEachValueBeforeWithTheValueAfter)
{
    WardDatabase ward(GetParam());
    audit::extendDatabase(ward.connection());
    const std::unique_ptr<jet::Connection> window = ward.connect();
    audit::recordChanges(*window);
    jet::Recordset row;
    row.open(db::kEpisodeSql.toString(), window.get());
    row.setFilter(u"入退院情報.入退院ID = 1"_s);
    for (const QString &name : {u"山田太朗"_s, u"山田太一"_s}) {
        row.setValue(u"氏名"_s, name);
        row.update();
    }
    row.close();
    QStringList found;
    for (const audit::HistoryEntry &entry : audit::patientHistory(*window, 1001, 1))
        found.append(u"%1 %2 %3→%4"_s.arg(entry.kind, entry.column, entry.before, entry.after));
    EXPECT_EQ(found, (QStringList{u"変更 氏名 山田太郎→山田太朗"_s, u"変更 氏名 山田太朗→山田太一"_s}));
    EXPECT_TRUE(audit::patientHistory(*window, 1002, 2).isEmpty());
}

} // namespace
