#include "toolkit/form.h"

#include "toolkit/errortrap.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHideEvent>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>

namespace toolkit {

namespace {

QList<Form *> &loadedForms()
{
    static QList<Form *> forms;
    return forms;
}

// The event-loop level of each load handler running now, innermost last.
QList<int> &loadLevels()
{
    static QList<int> levels;
    return levels;
}

struct ProgramState {
    bool ended = false;
    bool endCheckPosted = false;
    std::function<void(int)> exitHandler;
};

ProgramState &state()
{
    static ProgramState s;
    return s;
}

void callExitHandler(int status)
{
    if (state().exitHandler) {
        state().exitHandler(status);
        return;
    }
    QCoreApplication::exit(status);
    // exit() does nothing before the main loop runs, and a window's load
    // handler may end the program before main() has reached exec().
    if (QThread::currentThread()->loopLevel() == 0 && QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
    }
}

// The last window's unload ends the program only once its handler has
// finished: a handler may unload its own window before showing the next one.
void scheduleEndCheck()
{
    ProgramState &s = state();
    if (s.endCheckPosted || !QCoreApplication::instance())
        return;
    s.endCheckPosted = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        ProgramState &s = state();
        s.endCheckPosted = false;
        if (!s.ended && loadedForms().isEmpty())
            callExitHandler(0);
    });
}

int &discardScopes()
{
    static int scopes = 0;
    return scopes;
}

} // namespace

DiscardingEdits::DiscardingEdits()
{
    ++discardScopes();
}

DiscardingEdits::~DiscardingEdits()
{
    --discardScopes();
}

bool discardingEdits()
{
    return discardScopes() > 0;
}

Form::Form(QWidget *parent)
    : QMainWindow(parent)
{
}

Form::~Form()
{
    loadedForms().removeOne(this);
    if (m_modalLoop)
        m_modalLoop->quit();
}

bool Form::isLoaded() const
{
    return m_loaded;
}

void Form::load()
{
    if (m_loaded || m_discarded)
        return;
    Q_ASSERT_X(!Forms::findLoaded(typeid(*this)), "Form::load", "a second instance of a window class");
    // Windows hide rather than close, and the program's end follows the loaded
    // windows, not the visible ones; a message box closing must not end it.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_loaded = true;
    loadedForms().append(this);
    loadLevels().append(QThread::currentThread()->loopLevel());
    struct LoadEnds {
        ~LoadEnds() { loadLevels().removeLast(); }
    } ends;
    onLoad();
}

bool windowLoadingHere()
{
    return !loadLevels().isEmpty() && loadLevels().constLast() == QThread::currentThread()->loopLevel();
}

void Form::discardUnloaded()
{
    if (!m_discarded)
        discard();
}

// The window the user was working in: the active one, else the last shown.
QWidget *Form::owner() const
{
    QWidget *active = QApplication::activeWindow();
    if (active && active != this && active->isVisible())
        return active;
    const QList<Form *> &forms = loadedForms();
    for (auto it = forms.crbegin(); it != forms.crend(); ++it) {
        if (*it != this && (*it)->isVisible())
            return *it;
    }
    return nullptr;
}

// Where a window manager puts a new window is anyone's guess, and some put
// it partly off screen.  A window coming into view is centred: a modal one
// over the window it belongs to, any other on the screen the user works on;
// either way wholly inside that screen, its title bar first.
void Form::placeOnScreen(bool modal)
{
    QWidget *over = owner();
    QScreen *screen = over ? over->screen() : this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame(QPoint(0, 0), frameGeometry().size().boundedTo(screen->availableGeometry().size()));
    frame.moveCenter(modal && over ? over->frameGeometry().center() : screen->availableGeometry().center());
    moveOnScreen(*this, frame.topLeft(), *screen);
}

void moveOnScreen(QWidget &window, QPoint frameTopLeft, const QScreen &screen)
{
    const QRect area = screen.availableGeometry();
    // Nothing until the window manager has framed the window once.
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    const QMargins decoration(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                              outer.bottom() - inner.bottom());
    const QSize room = area.size().shrunkBy(decoration);
    if (window.width() > room.width() || window.height() > room.height())
        window.resize(window.size().boundedTo(room));
    QRect frame(frameTopLeft, window.size().grownBy(decoration));
    if (frame.right() > area.right())
        frame.moveRight(area.right());
    if (frame.bottom() > area.bottom())
        frame.moveBottom(area.bottom());
    if (frame.left() < area.left())
        frame.moveLeft(area.left());
    if (frame.top() < area.top())
        frame.moveTop(area.top());
    window.move(frame.topLeft());
}

void Form::showModeless()
{
    load();
    if (!m_loaded)
        return;
    if (!isVisible() && windowModality() != Qt::NonModal)
        setWindowModality(Qt::NonModal);
    const bool coming = !isVisible();
    if (coming)
        placeOnScreen(false);
    show();
    if (coming)
        placeOnScreen(false); // now with the frame the window system gave it
    raise();
    activateWindow();
}

void Form::showModal()
{
    load();
    if (!m_loaded)
        return;
    if (isVisible())
        hide();
    setWindowModality(Qt::ApplicationModal);
    placeOnScreen(true);
    QEventLoop loop;
    m_modalLoop = &loop;
    QPointer<Form> self(this);
    show();
    placeOnScreen(true);
    raise();
    activateWindow();
    if (self && self->m_modalLoop == &loop && isVisible())
        loop.exec(QEventLoop::DialogExec);
    if (self)
        self->m_modalLoop = nullptr;
    if (programHasEnded())
        throw ProgramEnded{};
}

bool Form::isShownModal() const
{
    return m_modalLoop != nullptr;
}

bool Form::unload()
{
    if (!m_loaded || m_unloading)
        return true;
    bool cancel = false;
    m_unloading = true;
    try {
        onUnload(cancel);
    } catch (...) {
        m_unloading = false;
        throw;
    }
    m_unloading = false;
    if (cancel)
        return false;
    if (m_loaded) {
        discard();
        scheduleEndCheck();
    }
    return true;
}

void Form::discard()
{
    m_loaded = false;
    m_discarded = true;
    loadedForms().removeOne(this);
    if (m_modalLoop)
        m_modalLoop->quit();
    hide();
    deleteLater();
}

void Form::closeEvent(QCloseEvent *event)
{
    // The window goes only through unload(), which deletes it.
    event->ignore();
    if (m_loaded)
        untrapped([this] { unload(); });
}

void Form::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    // A minimised window is hidden by the window system; that does not end a modal show.
    if (!event->spontaneous() && m_modalLoop)
        m_modalLoop->quit();
}

QList<Form *> Forms::loaded()
{
    return loadedForms();
}

Form *Forms::findLoaded(std::type_index type)
{
    for (Form *form : loadedForms()) {
        if (std::type_index(typeid(*form)) == type)
            return form;
    }
    return nullptr;
}

void endProgram(int status)
{
    ProgramState &s = state();
    if (!s.ended) {
        s.ended = true;
        const QList<Form *> forms = loadedForms();
        for (Form *form : forms)
            form->discard();
        callExitHandler(status);
    }
    throw ProgramEnded{};
}

bool programHasEnded()
{
    return state().ended;
}

void setExitHandler(std::function<void(int status)> handler)
{
    state().exitHandler = std::move(handler);
}

void resetProgramState()
{
    const QList<Form *> forms = loadedForms();
    for (Form *form : forms)
        form->discard();
    state().ended = false;
}

} // namespace toolkit
