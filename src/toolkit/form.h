#pragma once

#include <QList>
#include <QMainWindow>

#include <functional>
#include <typeindex>

class QEventLoop;

class QScreen;

namespace toolkit {

// Ending the program: when the last loaded window unloads, the program ends with
// status 0 once control is back in the event loop (a handler that unloads its own
// window and then shows another does not end it). endProgram(status) ends it at
// once: every window disappears WITHOUT its unload handler, nested modal loops
// end, and the current handler is unwound by ProgramEnded, which the trap helpers
// of errortrap.h catch. The exit handler is QCoreApplication::exit (also when
// the main loop has not started yet) unless a test installs one that records
// the status.
struct ProgramEnded {};
[[noreturn]] void endProgram(int status = 1);
bool programHasEnded();
void setExitHandler(std::function<void(int status)> handler); // an empty handler restores QCoreApplication::exit
// Tests: forget an earlier end, and discard (without unload handlers) any window
// an earlier test left loaded.
void resetProgramState();
// Whether a window's load handler is running in the current event loop: a
// trap inside it passes a server out of reach on to whoever opens the window,
// which then stays unopened (errortrap.h).
bool windowLoadingHere();

// While one lives, windows that write the user's edits as they unload throw
// them away instead: a session ended by someone else must leave nothing of
// its own behind.  Such a window asks discardingEdits() in its onUnload().
class DiscardingEdits
{
public:
    DiscardingEdits();
    ~DiscardingEdits();
    DiscardingEdits(const DiscardingEdits &) = delete;
    DiscardingEdits &operator=(const DiscardingEdits &) = delete;
};
bool discardingEdits();

// A window of the program. Every screen derives from it, modal ones too; the
// Forms registry keeps at most one loaded instance of each class.
class Form : public QMainWindow
{
    Q_OBJECT
public:
    explicit Form(QWidget *parent = nullptr);
    ~Form() override;

    bool isLoaded() const;
    void load();         // runs onLoad() once; the window stays unseen
    void showModeless(); // loads when needed, then shows
    // Loads when needed, shows application-modal and returns when the window is
    // hidden or unloaded. Throws ProgramEnded when the program ended meanwhile,
    // so that the caller's handler stops too.
    void showModal();
    bool isShownModal() const;
    // Runs onUnload(cancel); unless cancelled hides and deletes the window.
    // False when cancelled; true when the window was not loaded.
    bool unload();

protected:
    virtual void onLoad() {}
    virtual void onUnload(bool &cancel) { Q_UNUSED(cancel) }
    void closeEvent(QCloseEvent *event) override; // the close box unloads
    void hideEvent(QHideEvent *event) override;

private:
    friend void endProgram(int status);
    friend void resetProgramState();
    friend class Forms;
    void discard();
    // A window whose load failed goes without its unload handler.
    void discardUnloaded();
    QWidget *owner() const;
    void placeOnScreen(bool modal);

    bool m_loaded = false;
    bool m_unloading = false;
    bool m_discarded = false;
    QEventLoop *m_modalLoop = nullptr;
};

// Moves a top-level window so that its frame's top left corner stands at
// `frameTopLeft`, shrunk first where it is larger than the available area of
// `screen`, and moved back wholly inside that area, its title bar first.
void moveOnScreen(QWidget &window, QPoint frameTopLeft, const QScreen &screen);

// The loaded windows, one per class.
class Forms
{
public:
    // The instance, created and loaded unseen when needed.
    template <class T> static T &get()
    {
        if (T *form = find<T>())
            return *form;
        T *form = new T;
        try {
            form->load();
        } catch (...) {
            form->discardUnloaded();
            throw;
        }
        return *form;
    }
    // nullptr when not loaded.
    template <class T> static T *find() { return static_cast<T *>(findLoaded(typeid(T))); }
    // No-op when not loaded.
    template <class T> static void unload()
    {
        if (T *form = find<T>())
            form->unload();
    }
    static QList<Form *> loaded(); // in load order

private:
    friend class Form;
    static Form *findLoaded(std::type_index type);
};

} // namespace toolkit
