#include "app/serverpassword.h"

#include "app/product.h"
#include "db/engine/connection.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>

namespace app {

void askForServerPasswords()
{
    jet::setPasswordPrompt([](const QString &server) -> std::optional<QString> {
        bool ok = false;
        const QString password = QInputDialog::getText(
            QApplication::activeWindow(), kProductName,
            QStringLiteral("データベースサーバー %1 に接続します。\nパスワードを入力してください。").arg(server),
            QLineEdit::Password, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return password;
    });
}

} // namespace app
