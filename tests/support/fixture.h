#pragma once

#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/location.h"
#include "db/schema.h"
#include "support/backend.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>

namespace testing_support {

// A small ward of known rows in a database of the current generation, seen
// on 1 April 2003 at ten in the morning.
//
// Code rows (the placeholder "-" is ID 1 everywhere): rooms 2 = "305",
// 3 = "201" and beds 2 = "2", 3 = "1", numbered against their IDs so that an
// order by ID and an order by number text differ; physicians 2 = 岡部,
// 3 = 山田; admission forms 2 = 任意入院 (任意), 3 = 医療保護入院 (医保); sexes
// 2 = 男性 (男), 3 = 女性 (女); diagnoses 2 = F20, 3 = F25.1, 4 = F32,
// 5 = F10.2; one further row in each other code table.
//
// Patients and their episodes (入退院ID in brackets):
//   1001 山田太郎 やまだたろう, born 1960-04-02, F20:
//        [1] admitted 7 days ago, room 305 bed 1
//   1002 田中花子 たなかはなこ, born 1975-10-01, F25.1:
//        [2] admitted 8 days ago, discharged today, room 201 bed 2
//        [8] admitted 2002-11-01, still in, on a bed code that names no row
//   1003 高橋一郎 たかはしいちろう, born 1940-01-15, F32:
//        [3] 2002-12-01 to yesterday; [4] admitted tomorrow, registered
//        without its companion rows
//   1004 伊達政子 だてまさこ, born 1985-01-01, placeholder diagnosis:
//        [5] outpatient course without dates, certificate row
//   1005 佐藤次郎 さとうじろう, born 1950-06-30, F10.2:
//        [6] admitted 2003-01-01, room 201 bed 1;
//        [7] outpatient course with past dates; certificate row
//   1006 鈴木 すずき: no episode
//   [9] an outpatient course of chart 9999, which has no patient row
// Every episode but 4 and 9 has its 検査情報 and 診断情報 rows.
//
// On the server the ward is a database of its own on the test server, made
// the way norva-db makes one; path() is then its keyword string, which a
// location file names as it names a file.
class WardDatabase
{
public:
    static QDateTime today() { return QDateTime(QDate(2003, 4, 1), QTime(10, 0)); }

    explicit WardDatabase(Backend backend = Backend::File)
    {
        if (backend == Backend::Server) {
            // Building a ledger on the server takes seconds, and ctest runs
            // each test in a process of its own: each ward is a copy of one
            // built once for the test program (named by the program and its
            // build) and kept on the server for its later processes.
            static const QByteArray built = [] {
                const QFileInfo program(QCoreApplication::applicationFilePath());
                const QByteArray name = "norva_ward_"
                    + QCryptographicHash::hash(program.absoluteFilePath().toUtf8()
                                                   + QByteArray::number(program.lastModified().toMSecsSinceEpoch()),
                                               QCryptographicHash::Sha1).toHex().left(20);
                if (!ServerDatabase::exists(testServerConninfo(), name)) {
                    WardDatabase ward(std::make_unique<ServerDatabase>(testServerConninfo()));
                    ward.m_connection.reset();
                    jet::releasePooledHandles(ward.m_path);
                    ward.m_server->keepAs(name);
                }
                return name;
            }();
            m_server = std::make_unique<ServerDatabase>(testServerConninfo(), QByteArray(), built);
            m_path = QString::fromUtf8(m_server->conninfo()).trimmed();
            jet::Clock::setFixed(today());
            m_connection = connect();
            return;
        }
        jet::Clock::setFixed(today());
        m_path = QDir(m_dir.path()).filePath(QStringLiteral("norva2000.mdb"));
        build();
    }
    ~WardDatabase() { jet::Clock::setSystem(); }
    WardDatabase(const WardDatabase &) = delete;
    WardDatabase &operator=(const WardDatabase &) = delete;

    QString path() const { return m_path; }
    jet::Connection &connection() { return *m_connection; }

    // A window connection: the shaping provider and the shaped string.
    std::unique_ptr<jet::Connection> connect() const
    {
        auto connection = std::make_unique<jet::Connection>();
        connection->setProvider(db::shapingProvider());
        connection->open(db::shapedConnectionString(m_path));
        return connection;
    }

private:
    explicit WardDatabase(std::unique_ptr<ServerDatabase> empty)
        : m_server(std::move(empty)), m_path(QString::fromUtf8(m_server->conninfo()).trimmed())
    {
        jet::Clock::setFixed(today());
        build();
    }

    void build()
    {
        db::createDatabase(m_path, db::Generation::V2112);
        m_connection = connect();
        fill();
    }

    void exec(const QString &sql, const QVariantList &values = {}) { m_connection->execute(sql, values); }

    void code(const QString &table, const QString &display)
    {
        exec(QStringLiteral("INSERT INTO %1 (%1) VALUES (?)").arg(table), {display});
    }

    void patient(int chart, const QString &name, const QString &kana, const QDate &born, int sex, int diagnosis,
                 int second = 1)
    {
        exec(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名, かな氏名, 生年月日, 性別, 診断名①, 診断名②, 診断名③, "
                            "介護度, 障害者等級) VALUES (?, ?, ?, ?, ?, ?, ?, 1, 2, 1)"),
             {chart, name, kana, born, sex, diagnosis, second});
    }

    struct Episode
    {
        int chart;
        bool outpatient;
        QVariant admitted;
        QVariant discharged;
        int room;
        int bed;
        int form;
        int doctor;
        int second;
        int outOfHours;
        QString diagnosis;
        bool companions;
    };

    void episode(const Episode &e)
    {
        exec(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 外入の別, 入院日, 退院日, 一時診断名, 現病歴, 入院形態, 病室番号, "
                            "ベッド番号, 主治医①, 主治医②, 扱別, 転帰, 時間外頻度, 入院後経過, 個別注意事項) "
                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 2, 1, ?, ?, ?)"),
             {e.chart, e.outpatient ? -1 : 0, e.admitted, e.discharged, e.diagnosis, e.diagnosis + QStringLiteral("の経過"),
              e.form, e.room, e.bed, e.doctor, e.second, e.outOfHours, e.diagnosis + QStringLiteral("の治療"),
              e.diagnosis + QStringLiteral("に注意")});
        ++m_episodes;
        if (e.companions) {
            exec(QStringLiteral("INSERT INTO 検査情報 (入退院ID, `検査(脳波)`) VALUES (?, ?)"),
                 {m_episodes, QStringLiteral("脳波%1").arg(m_episodes)});
            exec(QStringLiteral("INSERT INTO 診断情報 (入退院ID) VALUES (?)"), {m_episodes});
        }
    }

    void fill()
    {
        code(QStringLiteral("病室番号"), QStringLiteral("305"));
        code(QStringLiteral("病室番号"), QStringLiteral("201"));
        code(QStringLiteral("ベッド番号"), QStringLiteral("2"));
        code(QStringLiteral("ベッド番号"), QStringLiteral("1"));
        code(QStringLiteral("主治医"), QStringLiteral("岡部"));
        code(QStringLiteral("主治医"), QStringLiteral("山田"));
        code(QStringLiteral("介護度"), QStringLiteral("要介護1"));
        code(QStringLiteral("障害者等級"), QStringLiteral("2級"));
        code(QStringLiteral("扱別"), QStringLiteral("国保"));
        code(QStringLiteral("転帰"), QStringLiteral("軽快"));
        code(QStringLiteral("服用方法"), QStringLiteral("毎食後"));
        exec(QStringLiteral("INSERT INTO 入院形態 (入院形態, 略称) VALUES ('任意入院', '任意')"));
        exec(QStringLiteral("INSERT INTO 入院形態 (入院形態, 略称) VALUES ('医療保護入院', '医保')"));
        exec(QStringLiteral("INSERT INTO 性別 (性別, 略称) VALUES ('男性', '男')"));
        exec(QStringLiteral("INSERT INTO 性別 (性別, 略称) VALUES ('女性', '女')"));
        exec(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES ('統合失調症', 'F20')"));
        exec(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES ('統合失調感情障害', 'F25.1')"));
        exec(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES ('うつ病エピソード', 'F32')"));
        exec(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES ('アルコール依存症', 'F10.2')"));
        exec(QStringLiteral("INSERT INTO 医薬品情報 (医薬品名) VALUES ('リスパダール')"));
        exec(QStringLiteral("INSERT INTO 医薬品情報 (医薬品名) VALUES ('アキネトン')"));
        exec(QStringLiteral("UPDATE 病院名 SET 病院名 = 'A病院', 診療担当科名 = '精神科', 郵便番号 = '100-0001', "
                            "所在地 = '東京都千代田区1-1', 電話番号 = '03-0000-0000'"));

        patient(1001, QStringLiteral("山田太郎"), QStringLiteral("やまだたろう"), QDate(1960, 4, 2), 2, 2, 4);
        patient(1002, QStringLiteral("田中花子"), QStringLiteral("たなかはなこ"), QDate(1975, 10, 1), 3, 3);
        patient(1003, QStringLiteral("高橋一郎"), QStringLiteral("たかはしいちろう"), QDate(1940, 1, 15), 2, 4);
        patient(1004, QStringLiteral("伊達政子"), QStringLiteral("だてまさこ"), QDate(1985, 1, 1), 3, 1);
        patient(1005, QStringLiteral("佐藤次郎"), QStringLiteral("さとうじろう"), QDate(1950, 6, 30), 2, 5);
        patient(1006, QStringLiteral("鈴木"), QStringLiteral("すずき"), QDate(1970, 7, 7), 2, 1);

        const QVariant none;
        episode({1001, false, QDate(2003, 3, 25), none, 2, 3, 2, 2, 3, 1, QStringLiteral("幻聴"), true});
        episode({1002, false, QDate(2003, 3, 24), QDate(2003, 4, 1), 3, 2, 3, 3, 2, 1, QStringLiteral("抑うつ"), true});
        episode({1003, false, QDate(2002, 12, 1), QDate(2003, 3, 31), 2, 2, 2, 2, 2, 1, QStringLiteral("不眠"), true});
        episode({1003, false, QDate(2003, 4, 2), none, 2, 2, 2, 2, 2, 1, QStringLiteral("再入院"), false});
        episode({1004, true, none, none, 1, 1, 1, 3, 1, 3, QStringLiteral("不安"), true});
        episode({1005, false, QDate(2003, 1, 1), none, 3, 3, 3, 2, 3, 1, QStringLiteral("離脱"), true});
        episode({1005, true, QDate(2002, 5, 1), QDate(2002, 6, 1), 1, 1, 1, 2, 1, 2, QStringLiteral("断酒"), true});
        episode({1002, false, QDate(2002, 11, 1), none, 2, 99, 2, 2, 2, 1, QStringLiteral("寛解"), true});
        episode({9999, true, none, none, 1, 1, 1, 2, 1, 2, QStringLiteral("不明"), false});

        exec(QStringLiteral("INSERT INTO `32条診断書` (カルテID, 主精神障害, 従精神障害, 医師氏名) VALUES (1004, 3, 1, '岡部')"));
        exec(QStringLiteral("INSERT INTO `32条診断書` (カルテID, 主精神障害, 従精神障害, 医師氏名) VALUES (1005, 5, 4, '山田')"));
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ServerDatabase> m_server;
    QString m_path;
    std::unique_ptr<jet::Connection> m_connection;
    int m_episodes = 0;
};

} // namespace testing_support
