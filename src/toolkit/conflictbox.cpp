#include "toolkit/conflictbox.h"

#include "db/engine/recordset.h"
#include "toolkit/platform.h"

namespace toolkit {

namespace {

QString shown(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("（空欄）") : value;
}

} // namespace

ConflictChoice askAboutChangedFields(const QList<ChangedField> &fields)
{
    QString text = QStringLiteral("この画面を開いている間に、\rほかの端末で次の項目が変更されて保存されました。\r");
    for (const ChangedField &field : fields)
        text += QStringLiteral("\r【%1】\r　ほかの端末の内容：%2\r　この画面の入力：%3")
                    .arg(field.caption, shown(field.theirs), shown(field.mine));
    text += QStringLiteral("\r\rどちらの内容を残しますか。");
    MessageBoxRequest box;
    box.text = text;
    box.icon = MessageIcon::Exclamation;
    box.buttons = MessageButtons::YesNoCancel;
    box.defaultButton = 3;
    box.buttonTexts = {QStringLiteral("自分の入力で上書き"), QStringLiteral("相手の変更を読み込む"), QStringLiteral("画面に戻る")};
    switch (platform().messageBox(box)) {
    case MessageResult::Yes:
        return ConflictChoice::KeepMine;
    case MessageResult::No:
        return ConflictChoice::TakeTheirs;
    default:
        return ConflictChoice::Back;
    }
}

bool settleChangedFields(jet::Recordset &row, const QList<ChangedField> &fields)
{
    switch (askAboutChangedFields(fields)) {
    case ConflictChoice::KeepMine:
        row.overwriteConflicts();
        return true;
    case ConflictChoice::TakeTheirs:
        row.reloadConflicts();
        return true;
    case ConflictChoice::Back:
        break;
    }
    return false;
}

} // namespace toolkit
