#pragma once

#include "toolkit/form.h"

#include <QStringList>

#include <QString>
#include <QVariant>
#include <functional>

namespace toolkit {

// The windows one window opens by name.  A window that opens another never
// includes its class, so subsystems built apart can open each other, and a
// name nobody has registered yet simply opens nothing.
struct WindowEntry
{
    std::function<toolkit::Form *()> find; // nullptr when not loaded
    std::function<toolkit::Form &()> get;  // loaded unseen when needed
    std::function<void()> unload;
};

void registerWindow(const QString &name, WindowEntry entry);
void unregisterWindow(const QString &name);
bool isRegistered(const QString &name);

template <class T>
void registerWindow(const QString &name)
{
    registerWindow(name, WindowEntry{[] { return static_cast<toolkit::Form *>(toolkit::Forms::find<T>()); },
                                     []() -> toolkit::Form & { return toolkit::Forms::get<T>(); },
                                     [] { toolkit::Forms::unload<T>(); }});
}

// The window of that name when it is loaded; nullptr otherwise or when unknown.
toolkit::Form *findWindow(const QString &name);

// Loads the window unseen when it is not loaded; nullptr when no window of
// that name is registered.
toolkit::Form *loadWindow(const QString &name);

// Shows the window modeless, loading it afresh when needed.  False when no
// window of that name is registered.
bool showWindow(const QString &name);
// The same, handing the window a value it takes while it loads.
bool showWindow(const QString &name, const QVariant &handed);

// Shows the window modal above the caller and returns once it is closed.
bool showModal(const QString &name);
// The same, handing the window a value it takes while it loads.
bool showModal(const QString &name, const QVariant &handed);

// Heard as a window opens through showWindow or showModal: loaded, not yet
// shown.  What the observer throws leaves the window unloaded and unopened
// and goes on to the opener as a failed load does.  One observer; an empty
// one stops hearing.
using OpeningObserver = std::function<void(toolkit::Form &window)>;
void setOpeningObserver(OpeningObserver observer);

// Asked before a window of that name loads to be opened through
// showWindow, showModal or moveTo: false leaves everything as it was (the
// gate has told the user why) and the opening returns false.  What it
// throws goes on to the opener.  One gate; an empty one lets every window open.
using OpeningGate = std::function<bool(const QString &name)>;
void setOpeningGate(OpeningGate gate);

// Unloads the window when it is loaded; unknown names are ignored.
void unloadWindow(const QString &name);

// Opening a window whose load fails because the server is out of reach shows
// the one answer to it (errortrap.h, unreachableAnswer), leaves the window
// unopened and returns false (nullptr); the caller's window stays as it was.

// Leaves one main window for another: the target loads unseen, the window
// being left unloads (closing its recordsets and connection), then the target
// is shown.  When the target is not registered or cannot load nothing
// happens, so the window being left stays on screen.  False then, or when the
// window being left refused to unload.
bool moveTo(toolkit::Form &current, const QString &target);
// The same, handing the target a value it takes while it loads, so that it
// opens on what the window being left chose rather than guessing it.
bool moveTo(toolkit::Form &current, const QString &target, const QVariant &handed);
// The value handed to the window of that name, once; invalid when none.
QVariant takeHanded(const QString &name);

} // namespace toolkit
