#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLineEdit;
class QPushButton;

namespace jet {
class Recordset;
}

namespace ledger {

// The filter a ledger's search box puts on its list for the hiragana typed:
// the patients whose kana reading begins with it.
QString kanaFilter(const QString &typed);

// The search box under a ledger's grid: narrows the ledger's list to the
// patients whose kana reading begins with the hiragana typed.  It filters the
// list recordset in memory rather than querying again, so the ledger's grid
// follows through the recordset's own signals.
class KanaSearch : public QObject
{
    Q_OBJECT

public:
    KanaSearch(QLineEdit *text, QPushButton *filter, QPushButton *reset, QObject *parent = nullptr);

    // The ledger's list recordset; the filter goes on it.  Not owned.
    void setList(jet::Recordset *list);

    // The characters the box accepts, in the order they are tested.
    static QString acceptedCharacters();

private:
    void applyFilter();
    void resetFilter();

    QPointer<QLineEdit> m_text;
    jet::Recordset *m_list = nullptr;
};

} // namespace ledger
