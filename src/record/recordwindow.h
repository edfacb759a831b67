#pragma once

#include "db/engine/connection.h"
#include "db/accounts/rights.h"
#include "db/audit.h"
#include "db/engine/recordset.h"
#include "db/episodes.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QStatusBar;
class QWidget;

namespace toolkit {
class DataCombo;
class RecordBinding;
class RowFollower;
class StatusPanels;
}

namespace record {

// The record windows open the whole join and narrow it to one episode with a filter.
using db::kEpisodeSql;

// The lists of the code combos.
inline constexpr QStringView kDiagnosisListSql =
    u"SELECT 診断ID,診断名,ICDコード,ICDコード & ' ' & 診断名 AS 診断 FROM `診断名(ICD10)` ORDER BY ICDコード";

inline const QString kBirthDateHint =
    QStringLiteral("西暦で入力（例：1985/1/1）：大正は和暦に11足し、昭和は和暦に25足す");
inline const QString kDateHint = QStringLiteral("西暦で入力（例：1985/1/1）");

// What the four record windows share: the window connection, one updatable
// data recordset every field is bound to, the code combos with their list
// recordsets, the date entry fields with their hints in the status bar, the
// contact key filters, the application boxes that enable their fields, the
// name fields with the reading capture, and saving and closing.
//
// The window has no editing buffer of its own: the bound widgets and the
// recordset's row are the edit, and saving or closing writes it.  A value the
// row refuses (an impossible date, a combo text that is no list entry) is
// answered with a warning; the other fields are stored, the refused one shows
// its stored value again, and the window carries on.
class RecordWindow : public toolkit::Form, public db::audit::PatientWindow
{
    Q_OBJECT

public:
    ~RecordWindow() override;

    jet::Connection &trailConnection() override;
    // The patient of the row shown; none in a window that shows no episode.
    db::audit::Event openingEvent() const override;

    jet::Recordset &data();
    toolkit::RecordBinding &binding();
    toolkit::StatusPanels *statusPanels() const;
    toolkit::DataCombo *dataCombo(const QComboBox *box) const;

    // The menu item 上書き保存: writes the row; the window stays open.
    void save();

    // Opened by someone who may not edit it: the fields show the row and
    // take no edits, 上書き保存 is disabled and closing writes nothing.
    bool isReadOnly() const { return m_readOnly; }

protected:
    // The ledger is the window shown again once this one has unloaded.
    explicit RecordWindow(const QString &ledger, QWidget *parent = nullptr);

    // Set-up, from the constructor once the widgets exist.
    // What every record window has under the same names: the name fields
    // Text2 and Text4, the birth date Text5, the contact fields Text10 and
    // Text12 and the application boxes Check2 to Check4 with their fields.
    void setupPatientFields();
    // Fields in 12 points; the memos that line up histories and results
    // (Text14 to Text17, Text21, Text22 to Text29, where present) in the
    // 9-point fixed face.
    void setupFieldFonts();
    // The input method on in every text field but the ones given, which keep
    // their own state.
    void setImeOnExcept(const QList<QWidget *> &ownState);
    // Three panels: the entry hints, the time and the date.
    void setupStatusBar(QStatusBar *bar);
    // The reading capture from the name field into the kana field, the kana
    // field's key filter and both fields' input-method states.
    void setupNameFields(QLineEdit *name, QLineEdit *kana);
    // Digits and "/" only, the hint in the first status panel while focused.
    void setupDateField(QLineEdit *box, const QString &hint);
    // Digits and "-" only (postal code, telephone).
    void setupContactField(QLineEdit *box);
    // The field is enabled exactly while the box is checked, whoever checks it.
    void enableWhileChecked(QCheckBox *box, QWidget *field);
    // 上書き保存, 閉じる, 目次とキーワード and バージョン情報.
    void setupMenus(QAction *save, QAction *close, QAction *helpIndex, QAction *about);
    // 変更履歴: the history of the patient and the episode shown.
    void setupHistory(QAction *history);
    // F1 opens the program's help file, which the window sets while loading.
    void useProgramHelpFile();

    // The rights any one of which lets the user edit the window: 記録の編集.
    virtual QList<accounts::Right> rightsToEdit() const;

    // Loading steps, in the order the window calls them.  Opening the
    // connection reads the session's rights, which make the window read-only.
    void openConnection();
    jet::Connection &connection();
    // The episode of the ledger's current grid row (column 入退院ID of its
    // grid DataGrid1).  Raises when the ledger is not loaded or its list is empty.
    QString episodeFromLedger(const QString &ledger) const;
    // An episode left without its 検査情報 or 診断情報 row (an older program
    // registered it so) would drop out of the join: the missing rows are
    // created, in one transaction.  An unknown episode gets none, nor does
    // a read-only window.
    void ensureCompanionRows(const QString &episode);
    void openData(const QString &sql, jet::CursorType cursor);
    // "入退院情報.入退院ID = '<episode>'"
    void filterEpisode(const QString &episode);
    // Binds the named controls in the order given, each to the column the
    // record windows bind a control of that name to, a code combo with its
    // list; displayFormats gives a text box's format by control name.
    void bindControls(const QStringList &controls, const QHash<QString, QString> &displayFormats = {});
    void bind(QLineEdit *box, const QString &column, const QString &displayFormat = {});
    void bind(QPlainTextEdit *box, const QString &column);
    void bind(QCheckBox *box, const QString &column);
    // Binds the combo to its data column, then opens its list recordset and
    // attaches the list with its bound and list columns.
    void bindCombo(QComboBox *box, const QString &column, const QString &listSql, const QString &boundColumn,
                   const QString &listColumn);

    // "Text", 8, 10: Text8, Text9, Text10.
    static QStringList controlRange(const QString &prefix, int first, int last);
    // The inpatient window's fields in the order it binds them.
    static QStringList inpatientControls();

    // The answers of a failed load: 0x80040E10 "データベース norva2000.mdb の取得に
    // 失敗しました。", and with oldSchemaAnswer error 545 "データベースが古いため
    // 表示できません。コンバートしてください。"; each ends the program, as does any other.
    static toolkit::ErrorTable loadAnswers(bool oldSchemaAnswer);
    // Runs the loading steps under those answers.
    void loadUnder(const std::function<void()> &steps, bool oldSchemaAnswer);

    // Closing: writes the row as saving does (the closing warning instead),
    // closes the recordsets and the connection, and shows the ledger.  A row
    // that cannot be written keeps the window open.
    void onUnload(bool &cancel) override;

private:
    template <class T>
    T *control(const QString &name) const;
    bool writeRow(const QString &warning);
    QString closingWarning(const QStringList &refused) const;
    void closeData();

    QString m_ledger;
    QAction *m_save = nullptr;
    bool m_readOnly = false;
    jet::Connection m_connection;
    jet::Recordset m_data;
    std::vector<std::unique_ptr<jet::Recordset>> m_lists;
    std::unique_ptr<toolkit::RecordBinding> m_binding;
    toolkit::StatusPanels *m_status = nullptr;
    // Another workstation's change of the row: read again, unless the
    // user's edits would be lost; they are told instead.  It goes before the
    // row, the binding and the connection it follows.
    std::unique_ptr<toolkit::RowFollower> m_follower;
};

} // namespace record
