#include "toolkit/binding.h"
#include "toolkit/keyfilter_p.h"
#include "toolkit/platform.h"

#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

namespace toolkit {

namespace {

const char kFilterName[] = "toolkit_keyfilter";
const char kLimiterName[] = "toolkit_maxlength";
const char kImeProperty[] = "toolkit_imemode";

// The characters a key press types, as the desktop's character message
// carries them: Backspace, Enter and Escape as their control codes, Ctrl with
// a letter as the control character of that letter.  Keys that type nothing
// (Tab, arrows, Delete, function keys, Alt combinations) give the empty text.
QString typedText(const QKeyEvent *event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    switch (key) {
    case Qt::Key_Backspace:
        return QStringLiteral("\b");
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QStringLiteral("\r");
    case Qt::Key_Escape:
        return QStringLiteral("\x1b");
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete: // X11 gives it the text DEL (0x7F), yet it types nothing
        return QString();
    default:
        break;
    }
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier))
        return QString();
    if (modifiers & Qt::ControlModifier) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return QString(QChar(key - Qt::Key_A + 1));
        return QString();
    }
    return event->text();
}

class KeyFilter : public QObject
{
public:
    KeyFilter(QWidget *box, const QString &allowed, bool allowBackspace, bool filterPaste)
        : QObject(box)
        , m_allowed(allowed)
        , m_allowBackspace(allowBackspace)
    {
        setObjectName(QLatin1String(kFilterName));
        box->installEventFilter(this);
        QLineEdit *line = qobject_cast<QLineEdit *>(box);
        if (auto *combo = qobject_cast<QComboBox *>(box))
            line = combo->lineEdit();
        if (line && line != box)
            line->installEventFilter(this);
        if (line && filterPaste)
            connect(line, &QLineEdit::textEdited, this, [this, line] { clean(line); });
    }

    bool allows(QChar c) const
    {
        if (c == QLatin1Char('\b'))
            return m_allowBackspace;
        return m_allowed.contains(c);
    }

    bool allowsAll(const QString &text) const
    {
        for (QChar c : text) {
            if (!allows(c))
                return false;
        }
        return true;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // A refused Ctrl+letter is not the box's to claim (as its copy or
            // paste), so the window's own shortcut on that key still runs.
            const QString text = typedText(static_cast<QKeyEvent *>(event));
            return !text.isEmpty() && !allowsAll(text);
        }
        case QEvent::KeyPress: {
            const auto *key = static_cast<QKeyEvent *>(event);
            const QString text = typedText(key);
            // A box that refuses even Backspace refuses every edit, Delete too.
            const bool deletes = key->key() == Qt::Key_Delete && !m_allowBackspace;
            if (!deletes && (text.isEmpty() || allowsAll(text)))
                return false;
            platform().beep();
            return true;
        }
        case QEvent::InputMethod: {
            auto *input = static_cast<QInputMethodEvent *>(event);
            const QString commit = input->commitString();
            if (allowsAll(commit))
                return false;
            QString kept;
            for (QChar c : commit) {
                if (allows(c))
                    kept.append(c);
            }
            platform().beep();
            input->setCommitString(kept, input->replacementStart(), input->replacementLength());
            return false;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    void clean(QLineEdit *line)
    {
        const QString text = line->text();
        if (allowsAll(text))
            return;
        QString kept;
        int cursor = line->cursorPosition();
        for (int i = 0; i < text.size(); ++i) {
            if (allows(text.at(i)) && text.at(i) != QLatin1Char('\b'))
                kept.append(text.at(i));
            else if (i < line->cursorPosition())
                --cursor;
        }
        platform().beep();
        line->setText(kept);
        line->setCursorPosition(cursor);
    }

    QString m_allowed;
    bool m_allowBackspace;
};

// Cuts what the user typed or pasted beyond the maximum length.  The program's
// own setPlainText() runs with the undo history switched off, which tells it
// apart from the user's edits.
class LengthLimiter : public QObject
{
public:
    LengthLimiter(QPlainTextEdit *box, int length)
        : QObject(box)
        , m_box(box)
        , m_length(length)
    {
        setObjectName(QLatin1String(kLimiterName));
        connect(box->document(), &QTextDocument::contentsChange, this, &LengthLimiter::limit);
    }

private:
    void limit(int position, int, int added)
    {
        QTextDocument *document = m_box->document();
        if (m_cutting || added <= 0 || !document->isUndoRedoEnabled())
            return;
        const int excess = document->characterCount() - 1 - m_length;
        if (excess <= 0)
            return;
        // Replacing the whole text reports one character more than the
        // document holds: the block separator it replaced.
        const int end = std::min(position + added, document->characterCount() - 1);
        const int start = std::max(position, end - excess);
        m_cutting = true;
        QTextCursor cursor(document);
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        m_cutting = false;
        platform().beep();
    }

public:
    int length() const { return m_length; }

private:
    QPlainTextEdit *m_box;
    int m_length;
    bool m_cutting = false;
};

void removeChild(QWidget *box, const char *name)
{
    const QList<QObject *> children = box->findChildren<QObject *>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    for (QObject *child : children)
        delete child;
}

} // namespace

namespace detail {

void installKeyFilter(QWidget *box, const QString &allowedCharacters, bool allowBackspace, bool filterPaste)
{
    removeChild(box, kFilterName);
    new KeyFilter(box, allowedCharacters, allowBackspace, filterPaste);
}

} // namespace detail

void setKeyFilter(QWidget *box, const QString &allowedCharacters, bool filterPaste)
{
    detail::installKeyFilter(box, allowedCharacters, true, filterPaste);
}

void clearKeyFilter(QWidget *box)
{
    removeChild(box, kFilterName);
}

void setMaxLength(QPlainTextEdit *box, int length)
{
    removeChild(box, kLimiterName);
    if (length > 0)
        new LengthLimiter(box, length);
}

int maxLength(const QPlainTextEdit *box)
{
    const auto *limiter = static_cast<const LengthLimiter *>(
        box->findChild<QObject *>(QLatin1String(kLimiterName), Qt::FindDirectChildrenOnly));
    return limiter ? limiter->length() : 0;
}

void setImeMode(QWidget *box, ImeMode mode)
{
    box->setProperty(kImeProperty, int(mode));
    if (mode == ImeMode::NoControl)
        return;
    const bool enabled = mode == ImeMode::On || mode == ImeMode::Hiragana;
    box->setAttribute(Qt::WA_InputMethodEnabled, enabled);
    if (auto *combo = qobject_cast<QComboBox *>(box)) {
        if (QLineEdit *line = combo->lineEdit())
            line->setAttribute(Qt::WA_InputMethodEnabled, enabled);
    }
}

ImeMode imeMode(const QWidget *box)
{
    const QVariant mode = box->property(kImeProperty);
    return mode.isValid() ? ImeMode(mode.toInt()) : ImeMode::NoControl;
}

} // namespace toolkit
