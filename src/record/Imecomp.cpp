#include "record/Imecomp.h"

#include "record/reading.h"
#include "toolkit/binding.h"

#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>

#include <iterator>

namespace Imecomp {

const QString kKanaCharacters = QStringLiteral(
    "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゐゆゑよらりるれろわをん"
    "がぎぐげござじずぜぞだぢづでどばびぶべぼぱぴぷぺぽ"
    "ぁぃぅぇぉっゃゅょ");

namespace {

const char kCaptureName[] = "Imecomp_capture";

// The full-width katakana of the half-width forms U+FF66 to U+FF9D, in code order.
const char16_t kWideKatakana[] =
    u"ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン";
static_assert(std::size(kWideKatakana) == 0xFF9D - 0xFF66 + 2, "one katakana for each half-width form");

bool isHiragana(QChar c)
{
    return (c >= u'\u3041' && c <= u'\u3096') || c == u'\u309D' || c == u'\u309E';
}

bool isKatakana(QChar c)
{
    return (c >= u'\u30A1' && c <= u'\u30FA') || (c >= u'\u30FC' && c <= u'\u30FE');
}

bool isHalfWidthKatakana(QChar c)
{
    return c >= u'\uFF66' && c <= u'\uFF9F';
}

bool isKana(QChar c)
{
    return isHiragana(c) || isKatakana(c) || isHalfWidthKatakana(c) || c == u'\u309B' || c == u'\u309C';
}

template<typename Predicate>
bool allOf(const QString &text, Predicate predicate)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (!predicate(c))
            return false;
    }
    return true;
}

// Whether the character has a single-byte form on the Japanese code page, so
// that it is written as its own reading: Latin letters, digits and signs in
// either width, and the katakana and the kana signs the half-width forms
// cover.  Hiragana and kanji have none.
bool narrowsToSingleByte(QChar c)
{
    if (c >= u'\u0020' && c <= u'\u007E')
        return true;
    if (c >= u'\uFF01' && c <= u'\uFF5E')
        return true;
    if (isHalfWidthKatakana(c) || (c >= u'\uFF61' && c <= u'\uFF65'))
        return true;
    switch (c.unicode()) {
    case u'\u3000': // ideographic space
    case u'\u3001': // 、
    case u'\u3002': // 。
    case u'\u300C': // 「
    case u'\u300D': // 」
    case u'\u309B': // ゛
    case u'\u309C': // ゜
    case u'\u30F2': // ヲ
    case u'\u30F3': // ン
    case u'\u30F4': // ヴ
    case u'\u30FB': // ・
    case u'\u30FC': // ー
        return true;
    default:
        break;
    }
    // ヮ, ヰ and ヱ have no half-width form.
    return c >= u'\u30A1' && c <= u'\u30EF' && c != u'\u30EE';
}

// The full-width katakana of a half-width one followed by a voiced (ﾞ) or
// semi-voiced (ﾟ) mark, or a null character when the two do not combine.
// Each voiced and semi-voiced katakana follows its plain one in code order.
QChar combined(QChar katakana, QChar mark)
{
    static const QString voiced = QStringLiteral("カキクケコサシスセソタチツテトハヒフヘホ");
    static const QString semiVoiced = QStringLiteral("ハヒフヘホ");
    const char16_t k = katakana.unicode();
    if (mark == u'\uFF9E') {
        if (k == u'ウ')
            return QChar(u'ヴ');
        if (voiced.contains(katakana))
            return QChar(char16_t(k + 1));
    } else if (mark == u'\uFF9F' && semiVoiced.contains(katakana)) {
        return QChar(char16_t(k + 2));
    }
    return QChar();
}

QChar wideForm(QChar c)
{
    const char16_t u = c.unicode();
    if (u == u' ')
        return QChar(u'\u3000');
    if (u > u' ' && u <= u'~')
        return QChar(char16_t(u - 0x21 + 0xFF01));
    if (u >= u'\uFF66' && u <= u'\uFF9D')
        return QChar(kWideKatakana[u - 0xFF66]);
    switch (u) {
    case u'\uFF61': return QChar(u'。');
    case u'\uFF62': return QChar(u'「');
    case u'\uFF63': return QChar(u'」');
    case u'\uFF64': return QChar(u'、');
    case u'\uFF65': return QChar(u'・');
    case u'\uFF9E': return QChar(u'゛');
    case u'\uFF9F': return QChar(u'゜');
    default: return c;
    }
}

// Follows one name field: the reading of the composition under way, and the
// readings of what the input method commits or the user types, written into
// the kana field.  It is the name field's child, so it goes with the field;
// the kana field may go first.
class Capture : public QObject
{
public:
    Capture(QLineEdit *name, QLineEdit *kana)
        : QObject(name)
        , m_name(name)
        , m_kana(kana)
    {
        setObjectName(QLatin1String(kCaptureName));
        name->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A read-only name takes nothing typed, and its reading follows.
        if (watched != m_name || !m_kana || m_name->isReadOnly())
            return false;
        switch (event->type()) {
        case QEvent::InputMethod:
            composed(static_cast<QInputMethodEvent *>(event));
            break;
        case QEvent::KeyPress:
            typed(static_cast<QKeyEvent *>(event));
            break;
        case QEvent::KeyRelease: {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && m_name->text().isEmpty())
                m_kana->clear();
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    // Runs before the name field inserts the commit, so the caret still shows
    // where the committed text goes.
    void composed(const QInputMethodEvent *event)
    {
        if (allOf(event->preeditString(), isKana))
            m_reading = event->preeditString();
        const QString commit = event->commitString();
        if (commit.isEmpty())
            return;
        QString reading;
        if (allOf(commit, narrowsToSingleByte))
            reading = commit;
        else if (!m_reading.isEmpty())
            // A word picked from the predictions is longer than what was typed.
            reading = completedReading(commit, m_reading);
        else if (allOf(commit, isHiragana))
            reading = commit;
        m_reading.clear();
        if (reading.isEmpty())
            return;
        const int at = (m_name->hasSelectedText() ? m_name->selectionStart() : m_name->cursorPosition())
            + event->replacementStart();
        const QString wide = toWideHiragana(reading);
        m_kana->setText(at <= 0 ? wide + m_kana->text() : m_kana->text() + wide);
    }

    // A key that reaches the field as a key carries text only when no input
    // method took it, and then that text is its own reading, as typed.
    void typed(const QKeyEvent *event)
    {
        const QString text = event->text();
        // Alt and Ctrl combinations are commands to the window, never text.
        if (text.isEmpty() || (event->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)))
            return;
        // Control characters, Delete's among them, type nothing into the name.
        for (QChar c : text) {
            if (c.unicode() < 32 || c.unicode() == 127)
                return;
        }
        m_kana->setText(m_kana->text() + text);
    }

    QLineEdit *m_name;
    QPointer<QLineEdit> m_kana;
    QString m_reading;
};

} // namespace

void attach(QLineEdit *name, QLineEdit *kana)
{
    const QList<QObject *> old = name->findChildren<QObject *>(QLatin1String(kCaptureName), Qt::FindDirectChildrenOnly);
    qDeleteAll(old);
    new Capture(name, kana);
}

void setKanaFilter(QLineEdit *kana)
{
    toolkit::setKeyFilter(kana, kKanaCharacters);
}

QString toWideHiragana(const QString &text)
{
    QString wide;
    wide.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = wideForm(text.at(i));
        if (isHalfWidthKatakana(text.at(i)) && i + 1 < text.size()) {
            const QChar joined = combined(c, text.at(i + 1));
            if (!joined.isNull()) {
                c = joined;
                ++i;
            }
        }
        wide.append(c);
    }
    for (QChar &c : wide) {
        if ((c >= u'\u30A1' && c <= u'\u30F6') || c == u'\u30FD' || c == u'\u30FE')
            c = QChar(char16_t(c.unicode() - 0x60));
    }
    return wide;
}

} // namespace Imecomp
