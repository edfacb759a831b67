#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"

#include <QApplication>
#include <QMessageBox>

// Until the windows are built the program opens the database named by the
// location file and reports what it found there.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ネモリア"));
    try {
        jet::Connection connection;
        db::openWindowConnection(connection, db::programFolder());
        jet::Recordset version;
        version.open(QStringLiteral("SELECT * FROM バージョン"), &connection, jet::CursorType::Dynamic);
        jet::Recordset episodes;
        episodes.open(QStringLiteral("SELECT 入退院ID FROM 入退院情報"), &connection);
        QMessageBox::information(nullptr, QStringLiteral("ネモリア"),
                                 QStringLiteral("データベース ver%1\n%2\n入退院データ %3件")
                                     .arg(version.value(QStringLiteral("バージョン")).toString(), connection.dataSource())
                                     .arg(episodes.recordCount()));
    } catch (const jet::Error &e) {
        QMessageBox::critical(nullptr, QStringLiteral("ネモリア"),
                              QStringLiteral("データベース norva2000.mdb の取得に失敗しました。\n%1 %2")
                                  .arg(e.numberText(), e.description()));
        return 1;
    }
    return 0;
}
