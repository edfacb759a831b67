#include "toolkit/binding.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace toolkit {

int twipsToPixels(int twips, const QWidget *widget)
{
    double dpi = 96;
    if (widget)
        dpi = widget->logicalDpiX();
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchX();
    return int(std::lround(twips * dpi / 1440.0));
}

QFont japaneseFont(double points)
{
    QFont font;
    font.setFamilies({QStringLiteral("IPAexGothic"), QStringLiteral("IPAGothic")});
    font.setPointSizeF(points);
    return font;
}

QFont japaneseFixedFont(double points)
{
    QFont font;
    font.setFamilies({QStringLiteral("IPAGothic")});
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSizeF(points);
    return font;
}

void useJapaneseFonts(QApplication &app)
{
    app.setFont(japaneseFont(9));
    const QFont field = japaneseFont(12);
    for (const char *className : {"QLineEdit", "QPlainTextEdit", "QTextEdit", "QComboBox"})
        app.setFont(field, className);
}

} // namespace toolkit
