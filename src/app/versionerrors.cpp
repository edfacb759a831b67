#include "app/versionerrors.h"

#include "db/check.h"
#include "db/engine/error.h"

namespace app {

toolkit::ErrorTable versionLoadAnswers(const std::function<void()> &then)
{
    const auto box = [](const QString &text) {
        toolkit::MessageBoxRequest request;
        request.text = text;
        request.icon = toolkit::MessageIcon::Critical;
        return request;
    };
    return {
        {jet::err::ColumnMissing, box(QStringLiteral("データベース norva2000.mdb の取得に失敗しました。")), then, true},
        {jet::err::TableMissing, box(QStringLiteral("データベースが古いため表示できません。コンバートしてください。")),
         then, true},
    };
}

toolkit::ErrorTable damagedDatabaseAnswers()
{
    toolkit::MessageBoxRequest box;
    box.text = QStringLiteral("データベースファイルが破損しているため、ネモリアを終了します。\n"
                              "すべての端末でネモリアを終了してから、")
        + db::damagedFileAdvice();
    box.icon = toolkit::MessageIcon::Critical;
    return {{jet::err::DatabaseDamaged, box, {}, true, true}};
}

} // namespace app
