// A name field and a kana field wired as in the record windows, for checking
// the reading capture against a real input method: type into the name field,
// and the kana field's text is printed on standard output when the program
// ends.  Every input-method event the name field receives is written to
// standard error, so a failed check shows what the input method sent.
//
//   norva-imecheck [--seconds N] [--quit-file PATH]
//
// It ends after N seconds (default 60) or as soon as PATH exists.

#include "record/Imecomp.h"
#include "toolkit/binding.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFormLayout>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class EventLog : public QObject
{
public:
    explicit EventLog(QLineEdit *name)
        : QObject(name)
    {
        name->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::InputMethod) {
            const auto *input = static_cast<QInputMethodEvent *>(event);
            QTextStream err(stderr);
            err << "preedit [" << input->preeditString() << "] commit [" << input->commitString() << "]\n";
        }
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("norva-imecheck"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the reading the capture takes from a real input method."));
    parser.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("End after N seconds."),
                                     QStringLiteral("N"), QStringLiteral("60"));
    const QCommandLineOption quitFile(QStringLiteral("quit-file"), QStringLiteral("End as soon as PATH exists."),
                                      QStringLiteral("PATH"));
    parser.addOption(seconds);
    parser.addOption(quitFile);
    parser.process(app);

    bool secondsValid = false;
    const int limit = parser.value(seconds).toInt(&secondsValid);
    if (!secondsValid || limit <= 0) {
        std::fprintf(stderr, "norva-imecheck: --seconds takes a positive whole number\n");
        return 2;
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("norva-imecheck"));
    auto *layout = new QFormLayout(&window);
    auto *name = new QLineEdit(&window);
    auto *kana = new QLineEdit(&window);
    name->setObjectName(QStringLiteral("Text2"));
    kana->setObjectName(QStringLiteral("Text4"));
    name->setFont(toolkit::japaneseFont(12));
    kana->setFont(toolkit::japaneseFont(12));
    layout->addRow(QStringLiteral("氏名"), name);
    layout->addRow(QStringLiteral("ふりがな"), kana);
    toolkit::setImeMode(name, toolkit::ImeMode::On);
    toolkit::setImeMode(kana, toolkit::ImeMode::Hiragana);
    Imecomp::attach(name, kana);
    Imecomp::setKanaFilter(kana);
    new EventLog(name);

    QTimer::singleShot(limit * 1000, &app, &QCoreApplication::quit);
    QTimer poll;
    if (parser.isSet(quitFile)) {
        const QString path = parser.value(quitFile);
        QObject::connect(&poll, &QTimer::timeout, &app, [path] {
            if (QFile::exists(path))
                QCoreApplication::quit();
        });
        poll.start(100);
    }

    window.resize(400, 100);
    window.show();
    window.activateWindow();
    name->setFocus();
    const int status = app.exec();

    QTextStream(stderr) << "name [" << name->text() << "]\n";
    QTextStream(stdout) << kana->text() << '\n';
    return status;
}
