#include "ledger/opening.h"

#include "toolkit/form.h"
#include "toolkit/navigation.h"

#include <QLineEdit>

namespace ledger {

void openRecord(toolkit::Form &ledger, const QString &recordWindow, const QString &key)
{
    toolkit::Form *record = toolkit::loadWindow(recordWindow);
    if (!record)
        return;
    if (auto *keyBox = record->findChild<QLineEdit *>(QStringLiteral("Text1")))
        keyBox->setText(key);
    ledger.unload();
    toolkit::showWindow(recordWindow);
}

} // namespace ledger
