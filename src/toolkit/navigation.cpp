#include "toolkit/navigation.h"

#include "db/engine/error.h"
#include "toolkit/errortrap.h"

#include <QHash>
#include <QStringList>

namespace toolkit {

namespace {

QHash<QString, WindowEntry> &registry()
{
    static QHash<QString, WindowEntry> entries;
    return entries;
}

QHash<QString, QVariant> &handedValues()
{
    static QHash<QString, QVariant> values;
    return values;
}

const WindowEntry *entryOf(const QString &name)
{
    const auto it = registry().constFind(name);
    return it == registry().constEnd() ? nullptr : &it.value();
}

OpeningObserver &openingObserver()
{
    static OpeningObserver observer;
    return observer;
}

OpeningGate &openingGate()
{
    static OpeningGate gate;
    return gate;
}

// A window already on screen is raised, whatever the gate says.
bool gateAllows(const WindowEntry &entry, const QString &name)
{
    if (!openingGate())
        return true;
    if (toolkit::Form *shown = entry.find(); shown && shown->isVisible())
        return true;
    return openingGate()(name);
}

// A window already on screen is not opened again by being raised.
void observeOpening(const WindowEntry &entry, toolkit::Form &window)
{
    if (window.isVisible() || !openingObserver())
        return;
    try {
        openingObserver()(window);
    } catch (...) {
        const auto unload = entry.unload;
        unload();
        throw;
    }
}

// The one decision where a window opens: a server out of reach leaves the
// window unopened and the user where they were, told which server; inside
// another window's load it is that opening's to answer.
bool opening(const std::function<void()> &open)
{
    try {
        open();
        return true;
    } catch (const jet::Error &e) {
        if (!jet::isRetryable(e.cause()) || windowLoadingHere())
            throw;
        answerUnreachable(e);
        return false;
    }
}

// The gate is asked as the opening is made: a server out of reach while it
// reads the rights is answered as an opening's, and nothing opens.
bool mayOpen(const WindowEntry &entry, const QString &name)
{
    bool allowed = false;
    return opening([&] { allowed = gateAllows(entry, name); }) && allowed;
}

// Shows the window with a value for its load alone: a window already loaded
// takes nothing, and the value never waits for a later opening.
bool handing(const QString &name, const QVariant &handed, const std::function<bool()> &show)
{
    if (!isRegistered(name))
        return false;
    handedValues().insert(name, handed);
    struct Forget
    {
        QString name;
        ~Forget() { handedValues().remove(name); }
    } forget{name};
    return show();
}

} // namespace

void registerWindow(const QString &name, WindowEntry entry)
{
    registry().insert(name, std::move(entry));
}

void unregisterWindow(const QString &name)
{
    registry().remove(name);
}

bool isRegistered(const QString &name)
{
    return entryOf(name) != nullptr;
}

toolkit::Form *findWindow(const QString &name)
{
    const WindowEntry *entry = entryOf(name);
    return entry ? entry->find() : nullptr;
}

toolkit::Form *loadWindow(const QString &name)
{
    const WindowEntry *entry = entryOf(name);
    if (!entry)
        return nullptr;
    const auto get = entry->get;
    toolkit::Form *window = nullptr;
    opening([&] { window = &get(); });
    return window;
}

bool showWindow(const QString &name)
{
    const WindowEntry *entry = entryOf(name);
    if (!entry)
        return false;
    // Copied first: the window's load may register or unregister windows.
    const WindowEntry copy = *entry;
    if (!mayOpen(copy, name))
        return false;
    return opening([&] {
        toolkit::Form &window = copy.get();
        observeOpening(copy, window);
        window.showModeless();
    });
}

bool showWindow(const QString &name, const QVariant &handed)
{
    return handing(name, handed, [&name] { return showWindow(name); });
}

bool showModal(const QString &name)
{
    const WindowEntry *entry = entryOf(name);
    if (!entry)
        return false;
    const WindowEntry copy = *entry;
    if (!mayOpen(copy, name))
        return false;
    toolkit::Form *window = nullptr;
    if (!opening([&] {
            window = &copy.get();
            observeOpening(copy, *window);
        }))
        return false;
    window->showModal();
    return true;
}

bool showModal(const QString &name, const QVariant &handed)
{
    return handing(name, handed, [&name] { return showModal(name); });
}

void setOpeningObserver(OpeningObserver observer)
{
    openingObserver() = std::move(observer);
}

void setOpeningGate(OpeningGate gate)
{
    openingGate() = std::move(gate);
}

void unloadWindow(const QString &name)
{
    if (const WindowEntry *entry = entryOf(name)) {
        const auto unload = entry->unload;
        unload();
    }
}

bool moveTo(toolkit::Form &current, const QString &target)
{
    // The target loads while the window being left is still there, so that
    // a target that cannot load leaves the user where they were.
    const WindowEntry *entry = entryOf(target);
    if (!entry || !mayOpen(*entry, target))
        return false;
    toolkit::Form *next = loadWindow(target);
    if (!next)
        return false;
    if (!current.unload()) {
        unloadWindow(target);
        return false;
    }
    return showWindow(target);
}

bool moveTo(toolkit::Form &current, const QString &target, const QVariant &handed)
{
    return handing(target, handed, [&] { return moveTo(current, target); });
}

QVariant takeHanded(const QString &name)
{
    return handedValues().take(name);
}

} // namespace toolkit
