#include "app/sessionwatch.h"

#include "app/frmLock.h"
#include "app/login.h"
#include "db/engine/clock.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace app {

namespace {

const QString kCoverName = u"sessionCover"_s;
const QString kAccountLabelName = u"lblSessionUser"_s;
const char *const kTitleProperty = "titleBeforeLock";
constexpr int kAccountLabelWidth = 300;

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
        return true;
    default:
        return false;
    }
}

} // namespace

SessionWatch::SessionWatch(int idleMinutes, QObject *parent)
    : QObject(parent), m_idleMinutes(qMax(1, idleMinutes)), m_lastInput(jet::Clock::now())
{
    m_timer = new QTimer(this);
    m_timer->setInterval(5000);
    connect(m_timer, &QTimer::timeout, this, &SessionWatch::check);
    m_timer->start();
    qApp->installEventFilter(this);
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible())
            nameAccountIn(window);
    }
}

SessionWatch::~SessionWatch()
{
    unlock();
}

void SessionWatch::setCheckInterval(int milliseconds)
{
    m_timer->setInterval(milliseconds);
}

void SessionWatch::check()
{
    if (m_locked) {
        // A lock window that could not load (its server out of reach) is
        // tried again; the windows stay covered meanwhile.
        if (!toolkit::Forms::find<frmLock>())
            showLockWindow();
        return;
    }
    if (m_lastInput.secsTo(jet::Clock::now()) >= qint64(m_idleMinutes) * 60)
        lock();
}

void SessionWatch::lock()
{
    if (m_locked)
        return;
    m_locked = true;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !qobject_cast<frmLock *>(window))
            cover(window);
    }
    showLockWindow();
}

void SessionWatch::unlock()
{
    m_locked = false;
    m_lastInput = jet::Clock::now();
    for (const QPointer<QWidget> &cover : std::as_const(m_covers)) {
        if (!cover)
            continue;
        QWidget *window = cover->parentWidget();
        window->setWindowTitle(window->property(kTitleProperty).toString());
        window->setProperty(kTitleProperty, QVariant());
        delete cover;
    }
    m_covers.clear();
}

// An opaque child above everything the window holds rather than hiding or
// minimising it: a hidden modal window would end its modal loop, and a
// minimised one is a click away on the task bar.  The title goes too, since
// a record window's names its patient.
void SessionWatch::cover(QWidget *window)
{
    if (window->findChild<QWidget *>(kCoverName, Qt::FindDirectChildrenOnly))
        return;
    auto *cover = new QWidget(window);
    cover->setObjectName(kCoverName);
    cover->setAutoFillBackground(true);
    QPalette palette = cover->palette();
    palette.setColor(QPalette::Window, QColor(0x1f, 0x3b, 0x5c));
    cover->setPalette(palette);
    cover->setGeometry(window->rect());
    cover->raise();
    cover->show();
    window->setProperty(kTitleProperty, window->windowTitle());
    window->setWindowTitle(u"ネモリア（ロック中）"_s);
    m_covers.append(cover);
}

void SessionWatch::showLockWindow()
{
    // Out of reach, the server is tried again at the next look at the idle
    // time; a box would only be covered.
    toolkit::ErrorAnswer quietly = toolkit::unreachableAnswer();
    quietly.box = {};
    toolkit::trap(
        [] {
            frmLock &box = toolkit::Forms::get<frmLock>();
            box.setWindowModality(Qt::ApplicationModal);
            box.show();
            if (const QScreen *screen = box.screen()) {
                QRect frame(QPoint(0, 0), box.frameGeometry().size());
                frame.moveCenter(screen->availableGeometry().center());
                toolkit::moveOnScreen(box, frame.topLeft(), *screen);
            }
            box.raise();
            box.activateWindow();
        },
        {quietly});
}

void SessionWatch::nameAccountIn(QWidget *window)
{
    auto *main = qobject_cast<QMainWindow *>(window);
    QStatusBar *bar = main ? main->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!bar)
        return;
    auto *label = bar->findChild<QLabel *>(kAccountLabelName, Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(bar);
        label->setObjectName(kAccountLabelName);
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Sunken);
        label->setContentsMargins(4, 0, 4, 0);
        bar->addPermanentWidget(label);
    }
    // A display name may be long; the record's own panels keep their room,
    // and the role at the end stays in sight.
    const QString text = u"ログイン中: "_s + loggedInText();
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, kAccountLabelWidth));
    label->setToolTip(text);
}

bool SessionWatch::eventFilter(QObject *watched, QEvent *event)
{
    if (isInput(event->type())) {
        if (!m_locked)
            m_lastInput = jet::Clock::now();
    } else if (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()) {
        auto *window = static_cast<QWidget *>(watched);
        if (event->type() == QEvent::Show) {
            nameAccountIn(window);
            // The lock window's own boxes (a server out of reach) stay readable.
            const bool lockWindowsBox = qobject_cast<QMessageBox *>(window) && toolkit::Forms::find<frmLock>();
            if (m_locked && !qobject_cast<frmLock *>(window) && !lockWindowsBox)
                cover(window);
        } else if (event->type() == QEvent::Resize) {
            if (auto *cover = window->findChild<QWidget *>(kCoverName, Qt::FindDirectChildrenOnly))
                cover->setGeometry(window->rect());
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace app
