#include "toolkit/widgets.h"

#include "db/engine/clock.h"
#include "toolkit/errortrap.h"

#include <algorithm>

#include <QEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

namespace toolkit {

namespace {

class FrameClickFilter : public QObject
{
public:
    FrameClickFilter(QGroupBox *frame, std::function<void()> handler)
        : QObject(frame), m_handler(std::move(handler))
    {
        frame->installEventFilter(this);
    }

    void setHandler(std::function<void()> handler) { m_handler = std::move(handler); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::MouseButtonPress
            || static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            return QObject::eventFilter(watched, event);
        // Taken here, so that a frame inside another frame is the only one clicked.
        event->accept();
        if (m_handler)
            untrapped(m_handler);
        return true;
    }

private:
    std::function<void()> m_handler;
};

class LabelClickFilter : public QObject
{
public:
    LabelClickFilter(QLabel *label, std::function<void()> handler)
        : QObject(label), m_handler(std::move(handler))
    {
        label->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            untrapped(m_handler);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_handler;
};

} // namespace

void onLabelClicked(QLabel *label, std::function<void()> handler)
{
    new LabelClickFilter(label, std::move(handler));
}

namespace {

// Scrolls a page up and down only: it stays as wide as the page's fields
// need, which grows as code lists fill the combos.
class PageScroller : public QScrollArea
{
public:
    explicit PageScroller(QWidget *page)
    {
        setObjectName(page->objectName() + QStringLiteral("Scroll"));
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        // The fields take the focus, not the page around them.
        setFocusPolicy(Qt::NoFocus);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWidget(page);
        // A wheel turned to scroll the page must not change the code of a
        // combo that passes under the pointer: only the focused one takes it.
        for (QComboBox *combo : page->findChildren<QComboBox *>()) {
            combo->setFocusPolicy(Qt::StrongFocus);
            combo->installEventFilter(this);
        }
    }

    QSize minimumSizeHint() const override
    {
        const int width = widget()->minimumSizeHint().width() + verticalScrollBar()->sizeHint().width()
            + 2 * frameWidth();
        return {std::max(width, QScrollArea::minimumSizeHint().width()), QScrollArea::minimumSizeHint().height()};
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == widget() && event->type() == QEvent::LayoutRequest)
            updateGeometry();
        const auto *combo = qobject_cast<QComboBox *>(watched);
        if (combo && event->type() == QEvent::Wheel && !combo->hasFocus()) {
            QCoreApplication::sendEvent(verticalScrollBar(), event);
            return true;
        }
        return QScrollArea::eventFilter(watched, event);
    }
};

// The named fields of the window in their focus order, leaving out the tab
// widget and what holds it, which do not move.
QList<QWidget *> fieldFocusOrder(QTabWidget *tabs)
{
    QList<QWidget *> order;
    QWidget *const window = tabs->window();
    QWidget *widget = window;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->isAncestorOf(tabs) && widget != tabs
            && !widget->objectName().isEmpty() && !widget->objectName().startsWith(QStringLiteral("qt_")))
            order.append(widget);
        widget = widget->nextInFocusChain();
    } while (widget != window);
    return order;
}

} // namespace

void makeTabPagesScroll(QTabWidget *tabs)
{
    // A page moved into its scroller takes its fields along as one block of
    // the focus chain, which would undo an order that runs across the pages.
    const QList<QWidget *> order = fieldFocusOrder(tabs);
    const int current = tabs->currentIndex();
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget *page = tabs->widget(i);
        const QString caption = tabs->tabText(i);
        const QString tip = tabs->tabToolTip(i);
        const bool enabled = tabs->isTabEnabled(i);
        tabs->removeTab(i);
        tabs->insertTab(i, new PageScroller(page), caption);
        tabs->setTabToolTip(i, tip);
        tabs->setTabEnabled(i, enabled);
    }
    tabs->setCurrentIndex(current);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void makeChoiceOfOne(const QList<QCheckBox *> &boxes, std::function<void(QCheckBox *)> checked)
{
    for (QCheckBox *box : boxes) {
        QObject::connect(box, &QCheckBox::toggled, box, [boxes, box, checked](bool on) {
            if (!on)
                return;
            for (QCheckBox *other : boxes) {
                if (other != box)
                    other->setChecked(false);
            }
            if (checked)
                checked(box);
        });
    }
}

void onFrameClicked(QGroupBox *frame, std::function<void()> handler)
{
    for (QObject *child : frame->children()) {
        if (auto *filter = dynamic_cast<FrameClickFilter *>(child)) {
            filter->setHandler(std::move(handler));
            return;
        }
    }
    new FrameClickFilter(frame, std::move(handler));
}

StatusPanels::StatusPanels(QStatusBar *bar, const QList<Kind> &panels)
    : QObject(bar), m_kinds(panels)
{
    for (int i = 0; i < m_kinds.size(); ++i) {
        auto *label = new QLabel(bar);
        label->setObjectName(QStringLiteral("%1Panel%2").arg(bar->objectName()).arg(i + 1));
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Sunken);
        label->setContentsMargins(4, 0, 4, 0);
        if (m_kinds.at(i) == Kind::Text) {
            // A long hint gives way rather than squeeze the clock.
            label->setMinimumWidth(1);
            bar->addWidget(label, 1);
        } else {
            label->setAlignment(Qt::AlignCenter);
            bar->addWidget(label, 0);
        }
        m_panels.append(label);
    }
    if (m_kinds.contains(Kind::Time) || m_kinds.contains(Kind::Date)) {
        m_timer = new QTimer(this);
        m_timer->setInterval(1000);
        connect(m_timer, &QTimer::timeout, this, &StatusPanels::refresh);
        m_timer->start();
    }
    refresh();
}

int StatusPanels::count() const
{
    return int(m_panels.size());
}

StatusPanels::Kind StatusPanels::kind(int panel) const
{
    return m_kinds.at(panel);
}

void StatusPanels::setText(int panel, const QString &text)
{
    if (m_kinds.at(panel) == Kind::Text)
        m_panels.at(panel)->setText(text);
}

QString StatusPanels::text(int panel) const
{
    return m_panels.at(panel)->text();
}

QLabel *StatusPanels::panel(int panel) const
{
    return m_panels.at(panel);
}

void StatusPanels::refresh()
{
    const QDateTime now = jet::Clock::now();
    for (int i = 0; i < m_kinds.size(); ++i) {
        QLabel *label = m_panels.at(i);
        if (m_kinds.at(i) == Kind::Time)
            label->setText(now.time().toString(QStringLiteral("H:mm")));
        else if (m_kinds.at(i) == Kind::Date)
            label->setText(now.date().toString(QStringLiteral("yyyy/MM/dd")));
        else
            continue;
        // The clock's panels never narrow, so that they neither cut the
        // time nor jump when the hour gains a digit.
        label->setMinimumWidth(std::max(label->minimumWidth(), label->sizeHint().width()));
    }
}

} // namespace toolkit
