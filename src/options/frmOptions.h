#pragma once

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "toolkit/binding.h"
#include "toolkit/datagrid.h"
#include "toolkit/form.h"

#include <QList>
#include <QString>
#include <array>
#include <memory>

class QGroupBox;
class QLineEdit;

namespace Ui {
class frmOptions;
}

// The options window: the hospital's code tables in thirteen grids and its
// own name, department, postal code, address and telephone number in five
// boxes.  Other windows read the hospital's data from those boxes, loading
// the window unseen when it is not loaded.
class frmOptions : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmOptions(QWidget *parent = nullptr);
    ~frmOptions() override;

    QLineEdit *Text1() const; // name of the medical institution
    QLineEdit *Text2() const; // department
    QLineEdit *Text3() const; // postal code
    QLineEdit *Text4() const; // address
    QLineEdit *Text5() const; // telephone number

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static constexpr int kListCount = 13;

    struct CodeList
    {
        QString tab;
        QGroupBox *frame = nullptr;
        jet::Recordset recordset;
        std::unique_ptr<toolkit::DataGrid> grid; // after the recordset: it must go first
    };

    void openData();
    void enableOnlyGrid(int list);
    void disableAllGrids();
    void deleteRow();
    QString deletionRefusal(CodeList &list);
    void save();
    bool saveAndClose(); // false: the window stays
    // Hands the pending change of recordset `index` (0: the hospital's row,
    // 1..13: the lists) to the database.  Raises err::DataChanged when the
    // user went back from another workstation's change.
    void savePending(int index);
    void answerRowStore(int index, const jet::Error &error);
    void reloadDeleted(int index);
    jet::Recordset &recordsetAt(int index);
    QString captionOf(int index) const;
    bool hasPendingChange(int index) const;
    void warnNotSaved(const QList<int> &indexes, const QString &reason);

    std::unique_ptr<Ui::frmOptions> ui;
    jet::Connection m_connection;
    jet::Recordset m_hospital;
    std::array<CodeList, kListCount> m_lists;
    toolkit::RecordBinding m_binding;
};
