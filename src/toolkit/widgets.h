#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QStatusBar;
class QTabWidget;
class QTimer;

namespace toolkit {

// A captioned frame (QGroupBox) with a click event: a left-button press on
// the frame itself, or on a disabled control or a plain label inside it
// (those let the press through to the frame).  A later call replaces the
// handler.  Like any event handler without a trap of its own it runs under
// untrapped(), unless it traps its work itself.
void onFrameClicked(QGroupBox *frame, std::function<void()> handler);

// A label with a click event: a left-button press on it.  Runs under
// untrapped(), as onFrameClicked() does.
void onLabelClicked(QLabel *label, std::function<void()> handler);

// Check boxes of which at most one is checked: checking one, by the user or
// by the program, clears the others and then calls `checked` with it;
// clearing one changes nothing else, so the set may end with none checked.
void makeChoiceOfOne(const QList<QCheckBox *> &boxes, std::function<void(QCheckBox *)> checked = {});

// Each page of the tab control scrolls up and down where the window is lower
// than the page needs, so that the window fits a small screen with every
// field still within reach; moving the focus to a field brings it into sight.
void makeTabPagesScroll(QTabWidget *tabs);

// Status bar panels, left to right: text panels share the free width, the
// time ("H:mm") and date ("yyyy/MM/dd") panels keep jet::Clock's moment and
// refresh themselves every second.
class StatusPanels : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Text, Time, Date };
    StatusPanels(QStatusBar *bar, const QList<Kind> &panels);

    int count() const;
    Kind kind(int panel) const;
    // 0-based.  Only text panels take a text; a time or date panel keeps its clock.
    void setText(int panel, const QString &text);
    QString text(int panel) const;
    QLabel *panel(int panel) const;
    void refresh();   // shows the clock's moment now

private:
    QList<Kind> m_kinds;
    QList<QLabel *> m_panels;
    QTimer *m_timer = nullptr;
};

} // namespace toolkit
