#include "ledger/kanasearch.h"

#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace ledger {

namespace {

const QString kTitle = QStringLiteral("ひらかな検索");

toolkit::MessageBoxRequest searchBox(const QString &text, toolkit::MessageIcon icon)
{
    toolkit::MessageBoxRequest box;
    box.text = text;
    box.title = kTitle;
    box.icon = icon;
    return box;
}

// A pattern the filter refuses (a wildcard inside the text) is the user's
// typing, not a fault: the window stays open, as it does while the server is
// out of reach.
toolkit::ErrorTable searchAnswers()
{
    const toolkit::MessageBoxRequest refused = searchBox(QStringLiteral("該当する患者氏名はありません。"),
                                                      toolkit::MessageIcon::Exclamation);
    return {{jet::err::InvalidArgument, refused, {}, false},
            {jet::err::InvalidArgumentHr, refused, {}, false},
            toolkit::unreachableAnswer()};
}

// Enter in the box is the default button's, so it must reach the button
// before the key filter, which would refuse the carriage return with a beep.
class EnterClicksDefault : public QObject
{
public:
    EnterClicksDefault(QLineEdit *text, QPushButton *button)
        : QObject(text), m_button(button)
    {
        text->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_button && m_button->isEnabled()) {
                m_button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QPushButton> m_button;
};

} // namespace

QString kanaFilter(const QString &typed)
{
    return QStringLiteral("かな氏名 like '") + typed + QStringLiteral("*'");
}

KanaSearch::KanaSearch(QLineEdit *text, QPushButton *filter, QPushButton *reset, QObject *parent)
    : QObject(parent), m_text(text)
{
    // Pasted text is cleaned too: a quote or a stray wildcard must never reach
    // the filter expression.
    toolkit::setKeyFilter(text, acceptedCharacters(), true);
    toolkit::setImeMode(text, toolkit::ImeMode::Hiragana);
    new EnterClicksDefault(text, filter);
    filter->setDefault(true);
    filter->setAutoDefault(true);

    connect(filter, &QPushButton::clicked, this, [this] { toolkit::trap([this] { applyFilter(); }, searchAnswers()); });
    connect(reset, &QPushButton::clicked, this, [this] { toolkit::trap([this] { resetFilter(); }, {toolkit::unreachableAnswer()}); });
}

void KanaSearch::setList(jet::Recordset *list)
{
    m_list = list;
}

QString KanaSearch::acceptedCharacters()
{
    return QStringLiteral("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゐゆゑよらりるれろわをん"
                          "がぎぐげござじずぜぞだぢづでどばびぶべぼぱぴぷぺぽぁぃぅぇぉっゃゅょ*");
}

void KanaSearch::applyFilter()
{
    if (!m_list || !m_text)
        return;
    const QString text = m_text->text();
    if (text.isEmpty()) {
        toolkit::platform().beep();
        toolkit::platform().messageBox(
            searchBox(QStringLiteral("検索したい氏名をひらかなで入力してください。"), toolkit::MessageIcon::Information));
        return;
    }
    m_list->setFilter(kanaFilter(text));
    if (m_list->recordCount() == 0) {
        toolkit::platform().beep();
        toolkit::platform().messageBox(
            searchBox(QStringLiteral("該当する患者氏名はありません"), toolkit::MessageIcon::Exclamation));
    }
}

void KanaSearch::resetFilter()
{
    if (!m_list || !m_text)
        return;
    m_list->clearFilter();
    m_list->requery();
    m_text->clear();
}

} // namespace ledger
