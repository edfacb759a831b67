#pragma once

#include "db/engine/recordset.h"

#include <QFont>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

class QApplication;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace toolkit {

class DataCombo;

// Maps widgets to the columns of a recordset's current row, by column name,
// in the manner of QDataWidgetMapper.  It shows the current row whenever the
// recordset moves, requeries or rewrites the row, and it is one of the
// recordset's row editors, so the recordset asks it for the user's edits
// before it moves, updates or requeries.  A window that closes the recordset
// calls commitEdits() itself first.
//
// Only widgets changed since the binding last showed them are written, each
// converted to the column's type: date columns through dateFromText(), number
// columns as numbers, Yes/No columns from check boxes as -1 and 0.  An
// emptied box writes Null, also into text columns: rows are created with only
// their keys, so Null is what "not filled in" already means to every reader.
class RecordBinding : public QObject, public jet::RowEditor
{
    Q_OBJECT

public:
    explicit RecordBinding(QObject *parent = nullptr);
    ~RecordBinding() override;

    // The binding never owns the recordset; it forgets it when it is destroyed.
    void setRecordset(jet::Recordset *recordset);
    jet::Recordset *recordset() const;

    // Each bind* raises jet::Error(545) when the recordset lacks the column and
    // shows the current value at once.  A text box without a display format
    // shows dates in the short date form.  A text box bound to a text column
    // takes the column's size as its maximum length where its own is longer,
    // so that typing or pasting never reaches the engine's refusal.
    void bindText(QLineEdit *box, const QString &column, const QString &displayFormat = {});
    void bindText(QPlainTextEdit *box, const QString &column);
    // Checked stores -1, unchecked 0.  Showing a value that differs from the
    // box's state toggles it, so the window's toggled handlers run as they do
    // for the user's click.
    void bindCheck(QCheckBox *box, const QString &column);
    // Stores the chosen list row's ID.  The combo may be bound before its list
    // is attached; it shows the list text once the list is there.
    void bindCombo(DataCombo *combo, const QString &column);
    void bindLabel(QLabel *label, const QString &column, const QString &displayFormat = {});

    void refresh(); // shows the current row again, dropping unwritten edits

    // From now on the bound widgets, those bound later included, show the
    // row and take no edits: texts become read-only, switches and lists
    // disabled, and nothing is written to the row.
    void makeReadOnly();
    bool isReadOnly() const { return m_readOnly; }

    // How the widget bound to the column would show the value (a list's
    // text for a combo), and what the window calls that widget: a check
    // box's own text, else the label whose buddy it is, else the column.
    QString shownText(const QString &column, const QVariant &value) const;
    QString caption(const QString &column) const;

    // Writes the changed widgets into the current row; the recordset's
    // update() stores them.  An impossible date, a number column given a text
    // that is no number, or a combo text that is no list entry raise
    // jet::Error(0x80040E4E); the widgets keep the user's text.
    // Every other edit is written before the first refusal is raised.
    void commitEdits() override;
    bool hasEdits() const;
    // The columns whose text the last commit refused, in binding order.
    QStringList refusedColumns() const;
    // Shows the stored values again in the widgets whose text the last
    // commit refused, so that they no longer count as edits.
    void revertRefused();
    // While set, the commits pass over the widgets whose text was refused,
    // which keep that text as an edit: the rest can be stored before the
    // refusal is answered.
    void setRefusedLeftOut(bool leftOut) { m_refusedLeftOut = leftOut; }

signals:
    void valueShown(QWidget *widget); // after the binding wrote a widget

private:
    struct Binding;

    Binding &add(QWidget *widget, const QString &column);
    const Binding *bindingOf(const QString &column) const; // the widget that edits it
    void show(Binding &binding);
    void write(Binding &binding);
    void markEdited(QWidget *widget);
    void lock(QWidget *widget);
    int columnSize(const QString &column) const; // 0 for no limit
    void forget(QObject *widget);
    void onRowChanged(int row);
    bool hasCurrentRow() const;

    QPointer<jet::Recordset> m_recordset;
    std::vector<std::unique_ptr<Binding>> m_bindings;
    QWidget *m_shownWidget = nullptr;
    bool m_refusedLeftOut = false;
    bool m_readOnly = false;
};

// Behaviour attached to a QComboBox (its parent): a list of IDs and texts read
// from a list recordset, showing the text of a bound ID and giving the ID of
// the chosen text.
class DataCombo : public QObject
{
    Q_OBJECT

public:
    explicit DataCombo(QComboBox *box);

    // Reads the list once; later changes of the list recordset are not
    // followed.  Raises jet::Error(545) when the list lacks either column.
    void setListSource(jet::Recordset *list, const QString &boundColumn, const QString &listColumn);
    // Typed characters, Backspace, Delete and Enter included, beep and are
    // dropped, and nothing can be pasted, cut or dropped, so an entry can only
    // be chosen from the list.
    void setRefuseTyping(bool refuse);
    bool refusesTyping() const;

    // What an emptied box stores: Null unless the list has a row that means
    // "not set", whose ID is given here.
    void setEmptyValue(const QVariant &id);

    // The ID of the entry whose text the box shows; the empty value for an
    // empty text; Null for a text that is no entry.
    QVariant boundValue() const;
    // Shows the list text of that ID; an ID with no list row shows the empty text.
    void setBoundValue(const QVariant &id);
    QString textOf(const QVariant &id) const;
    // False when the box shows a text that is neither empty nor a list entry,
    // that is, a text that cannot be stored.
    bool textIsStorable() const;
    QComboBox *box() const;

signals:
    void changed(); // the user chose or typed; not emitted for setBoundValue

private:
    void showValue();
    int entryOfText(const QString &text) const;
    int entryOfId(const QVariant &id) const;

    QComboBox *m_box;
    QList<QVariant> m_ids;
    QVariant m_value;
    QVariant m_emptyValue;
    bool m_showing = false;
    bool m_refuseTyping = false;
};

// Saves a window's bound row: moves to the last row, which hands the
// widgets' edits to it, and stores it.  A refused value is answered with
// `refusalWarning`, followed, when `nameRefused`, by a line naming the
// refused columns; the refused widgets show the stored values again and every
// other edit is stored.  A row that cannot be written at all (a full disk, a
// lock, a read-only file) is stored not at all and the box says so, in place
// of any refusal; widgets and recordset keep the edits for the next save.
// False then.
//
// Fields another workstation changed since the row was read are named in the
// conflict box (askAboutChangedFields): mine is written over theirs, theirs
// is shown and the other edits stored, or nothing is stored (false).  A row
// another workstation deleted is stored not at all and the window keeps its
// text to be copied; closing, the user may let the edits go, and then the
// answer is true: the window may close.
enum class SaveMoment { Saving, Closing };
bool saveBoundRow(RecordBinding &binding, const QString &refusalWarning, bool nameRefused,
                  SaveMoment moment = SaveMoment::Saving);
// The same, the warning's first line chosen by the columns refused.
bool saveBoundRow(RecordBinding &binding, const std::function<QString(const QStringList &)> &refusalWarning,
                  bool nameRefused, SaveMoment moment = SaveMoment::Saving);

// Key filters: only the listed characters and Backspace reach the box; any
// other typed character beeps (platform().beep()) and is dropped.  Keys that
// type nothing (arrows, Tab, Delete) pass.  Ctrl with a letter types a control
// character and is refused like any other, so Ctrl+V does not paste.  Text
// committed by an input method is filtered in the same way.  Pasting through
// the context menu or dropping text bypasses the filter unless filterPaste is
// true; then the characters outside the list are removed from what arrives
// (single-line boxes and editable combos).  An empty list refuses every
// typed character.
void setKeyFilter(QWidget *box, const QString &allowedCharacters, bool filterPaste = false);
void clearKeyFilter(QWidget *box);

// A multi-line box's maximum length: typing or pasting beyond it is cut off
// with a beep.  Text the program shows is not cut, so nothing stored longer
// is lost by showing it.
void setMaxLength(QPlainTextEdit *box, int length);
int maxLength(const QPlainTextEdit *box); // 0 without a limit

// The input method per box.  Disable and Off turn it off for the box.  On and
// Hiragana leave it on: a Linux input method's mode belongs to the user and
// cannot be switched by the program, so a hiragana box relies on the user's
// input method being in its kana mode.  NoControl leaves the box as it is.
enum class ImeMode { NoControl, On, Off, Disable, Hiragana };
void setImeMode(QWidget *box, ImeMode mode);
ImeMode imeMode(const QWidget *box);

// 1440 twips an inch: 15 twips a pixel at 96 DPI, scaled by the logical DPI of
// the widget's screen (of the primary screen without a widget).
int twipsToPixels(int twips, const QWidget *widget = nullptr);

// Japanese text through the IPA fonts: IPAexGothic, then IPAGothic.
QFont japaneseFont(double points = 12);
// The fixed-pitch Gothic (IPAGothic) for memo fields that line text up.
QFont japaneseFixedFont(double points = 9);
// The program's fonts: 9 points for captions, 12 points in fields (line
// edits, multi-line boxes, combos).
void useJapaneseFonts(QApplication &app);
// Qt's own Japanese translation of its standard texts (context menus, the
// standard dialogs' buttons).  False when the translation is not installed.
bool useJapaneseTexts(QApplication &app);

} // namespace toolkit
