#include "toolkit/binding.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTranslator>
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

bool useJapaneseTexts(QApplication &app)
{
    static const char name[] = "toolkit_japanese";
    if (app.findChild<QTranslator *>(QLatin1String(name), Qt::FindDirectChildrenOnly))
        return true;
    auto *translator = new QTranslator(&app);
    translator->setObjectName(QLatin1String(name));
    if (!translator->load(QStringLiteral("qt_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return app.installTranslator(translator);
}

} // namespace toolkit
