#pragma once

#include <QApplication>
#include <QLabel>
#include <QStringList>
#include <QTabWidget>
#include <QTest>

#include <algorithm>

namespace testing_support {

// The labels of a window whose text does not fit their width, each tab of
// every tab control shown in turn.  Wrapped labels count too: a caption is
// meant to read on the lines it was written on.
inline QStringList narrowLabels(QWidget *window)
{
    QStringList narrow;
    QList<QLabel *> seen;
    const auto check = [&] {
        QApplication::processEvents();
        for (QLabel *label : window->findChildren<QLabel *>()) {
            const QString text = label->text();
            if (!label->isVisible() || text.isEmpty() || Qt::mightBeRichText(text) || seen.contains(label))
                continue;
            seen.append(label);
            // What the label needs for its text on the lines it was written
            // on, measured by the label itself in its own style.
            const bool wraps = label->wordWrap();
            label->setWordWrap(false);
            const int needed = label->sizeHint().width();
            label->setWordWrap(wraps);
            const int width = label->width();
            if (width < needed)
                narrow.append(QStringLiteral("%1 (%2 < %3)").arg(label->objectName()).arg(width).arg(needed));
        }
    };
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return {QStringLiteral("<window not shown>")};
    check();
    for (QTabWidget *tabs : window->findChildren<QTabWidget *>()) {
        const int current = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            check();
        }
        tabs->setCurrentIndex(current);
    }
    return narrow;
}

} // namespace testing_support
