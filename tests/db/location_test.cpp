#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/location.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString installedPath = QStringLiteral("C:\\Program Files\\NORVA\\norva2000.mdb");

class LocationFile : public ::testing::Test
{
protected:
    void write(const QByteArray &bytes)
    {
        QFile file(QDir(m_folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QString read() { return db::readDatabasePath(m_folder.path()); }

    qint32 readError()
    {
        try {
            read();
        } catch (const jet::Error &error) {
            return error.number();
        }
        return 0;
    }

    QString folder() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
};

} // namespace

TEST_F(LocationFile, FirstFieldOfFirstLine)
{
    write("C:\\Program Files\\NORVA\\norva2000.mdb");
    EXPECT_EQ(read(), installedPath);
    write("C:\\Program Files\\NORVA\\norva2000.mdb\r\nD:\\other.mdb\r\n");
    EXPECT_EQ(read(), installedPath);
    write("C:\\Program Files\\NORVA\\norva2000.mdb,backup on D:\r\n");
    EXPECT_EQ(read(), installedPath);
    write("   \tC:\\Program Files\\NORVA\\norva2000.mdb\n");
    EXPECT_EQ(read(), installedPath);
    write("/srv/norva/norva2000.mdb \r\n");
    EXPECT_EQ(read(), QStringLiteral("/srv/norva/norva2000.mdb "));
}

TEST_F(LocationFile, QuotedFieldKeepsCommas)
{
    write("  \"D:\\data,2003\\norva2000.mdb\",ignored\r\n");
    EXPECT_EQ(read(), QStringLiteral("D:\\data,2003\\norva2000.mdb"));
    write("\"D:\\data,2003\\norva2000.mdb\r\nnext line\"");
    EXPECT_EQ(read(), QStringLiteral("D:\\data,2003\\norva2000.mdb"));
}

TEST_F(LocationFile, JapanesePathInEitherEncoding)
{
    // ソ and 表 end in the byte of "\" in Shift-JIS.
    const QString path = QStringLiteral("C:\\ネモリア\\ソ表\\norva2000.mdb");
    write("C:\\\x83" "l\x83\x82\x83\x8A\x83" "A\\\x83\x5C\x95\x5C\\norva2000.mdb\r\n");
    EXPECT_EQ(read(), path);
    write(path.toUtf8() + ",x\n");
    EXPECT_EQ(read(), path);
    write("\xEF\xBB\xBF" + path.toUtf8());
    EXPECT_EQ(read(), path);
}

TEST_F(LocationFile, UnicodeRelativeAndOverlongFiles)
{
    const QString path = QStringLiteral("/srv/ネモリア/norva2000.mdb");
    QStringEncoder little(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    write(little.encode(path + QStringLiteral("\r\n")));
    EXPECT_EQ(read(), path);
    QStringEncoder big(QStringEncoder::Utf16BE, QStringEncoder::Flag::WriteBom);
    write(big.encode(path));
    EXPECT_EQ(read(), path);

    // Beside the program, not wherever it was started from.
    write("data/norva2000.mdb\n");
    EXPECT_EQ(read(), QDir(folder()).filePath(QStringLiteral("data/norva2000.mdb")));

    write(QByteArray(8 * 1024 * 1024, 'x'));
    EXPECT_EQ(readError(), db::fileerr::PathFileAccess);
    write(QByteArray(8 * 1024 * 1024, ' '));
    EXPECT_EQ(readError(), db::fileerr::PathFileAccess);
}

TEST_F(LocationFile, IsReadAfreshEachTime)
{
    write("/a.mdb");
    EXPECT_EQ(read(), QStringLiteral("/a.mdb"));
    write("/b.mdb");
    EXPECT_EQ(read(), QStringLiteral("/b.mdb"));
}

TEST_F(LocationFile, MissingOrEmptyFileRaisesFileErrors)
{
    EXPECT_EQ(readError(), db::fileerr::FileNotFound);
    write("");
    EXPECT_EQ(readError(), db::fileerr::InputPastEndOfFile);
    write("   ");
    EXPECT_EQ(readError(), db::fileerr::InputPastEndOfFile);
}

TEST_F(LocationFile, AServerAddressIsTakenWholeAndReachesTheConnectionUnharmed)
{
    const QString keywords = QStringLiteral("host=db1,db2 port=5432 dbname=ledger application_name='nurses station'");
    const QString uri = QStringLiteral("postgresql://norva@db1:5432,db2:5432/ledger?sslmode=verify-full");
    for (const QString &address : {keywords, uri}) {
        write("  " + address.toUtf8() + "\r\n");
        EXPECT_EQ(read(), address) << qPrintable(address);
        for (const QString &text : {db::shapedConnectionString(address), db::plainConnectionString(address)})
            EXPECT_EQ(jet::parseConnectionString(text).dataSource, address) << qPrintable(text);
    }
}

TEST(ConnectionStrings, FormsAsDesigned)
{
    EXPECT_EQ(db::shapedConnectionString(installedPath),
              QStringLiteral("Data Provider=Microsoft.Jet.OLEDB.4.0;Data Source= 'C:\\Program Files\\NORVA\\norva2000.mdb';"
                             "Jet OLEDB:Database Password=tamik4062;"));
    EXPECT_EQ(db::plainConnectionString(installedPath),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source= 'C:\\Program Files\\NORVA\\norva2000.mdb';"
                             "Jet OLEDB:Database Password=tamik4062;"));
    EXPECT_EQ(db::reportConnectionString(installedPath),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Program Files\\NORVA\\norva2000.mdb;"
                             "Persist Security Info=False;Jet OLEDB:Database Password=tamik4062;"));
}

TEST(ConnectionStrings, EveryFormReadsBackItsPath)
{
    const QString path = QStringLiteral("/srv/ネモリア, 2003/norva2000.mdb");
    for (const QString &text : {db::shapedConnectionString(path), db::plainConnectionString(path),
                                db::reportConnectionString(path)}) {
        const jet::ConnectionSettings settings = jet::parseConnectionString(text);
        EXPECT_EQ(settings.dataSource, path) << qPrintable(text);
        EXPECT_EQ(settings.password, QStringLiteral("tamik4062"));
    }
    // The report source takes the path as a property: a semicolon must not cut it.
    const QString odd = QStringLiteral("/srv/a;b/norva2000.mdb");
    EXPECT_EQ(jet::parseConnectionString(db::reportConnectionString(odd)).dataSource, odd);
}

TEST(Paths, WindowsPathsMapToThisSystem)
{
    const QString program = QStringLiteral("/opt/norva");
    EXPECT_EQ(db::defaultDatabasePath(program), QStringLiteral("/opt/norva/norva2000.mdb"));
    EXPECT_EQ(db::localPath(QStringLiteral("C:\\Program Files\\NORVA\\norva2000.old.mdb"), program),
              QStringLiteral("/opt/norva/norva2000.old.mdb"));
    EXPECT_EQ(db::localPath(QStringLiteral("C:\\norva_optimization.mdb"), program),
              QDir::home().filePath(QStringLiteral("norva_optimization.mdb")));
    EXPECT_EQ(db::localPath(QStringLiteral("/var/lib/norva2000.mdb"), program), QStringLiteral("/var/lib/norva2000.mdb"));
}

TEST_F(LocationFile, WindowConnectionOpensTheNamedFile)
{
    const QString database = QDir(folder()).filePath(QStringLiteral("norva2000.mdb"));
    jet::createDatabase(database, db::databasePassword());
    write(database.toUtf8() + "\r\n");

    jet::Connection connection;
    db::openWindowConnection(connection, folder());
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(connection.provider(), QStringLiteral("MSDataShape"));
    EXPECT_EQ(connection.dataSource(), database);
    connection.close();
    jet::releasePooledHandles(database);
}

TEST_F(LocationFile, WindowConnectionFailures)
{
    jet::Connection connection;
    try {
        db::openWindowConnection(connection, folder());
        FAIL() << "opened without a location file";
    } catch (const jet::Error &error) {
        EXPECT_EQ(error.number(), db::fileerr::FileNotFound);
    }
    write(QDir(folder()).filePath(QStringLiteral("missing.mdb")).toUtf8());
    try {
        db::openWindowConnection(connection, folder());
        FAIL() << "opened a missing database";
    } catch (const jet::Error &error) {
        EXPECT_EQ(error.number(), jet::err::GeneralFailure);
    }
    EXPECT_FALSE(connection.isOpen());
}
