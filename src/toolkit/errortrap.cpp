#include "toolkit/errortrap.h"

#include "db/engine/error.h"
#include "toolkit/form.h"

#include <QThread>

#include <exception>

namespace toolkit {

namespace {

// The event-loop level of each trap running now, innermost last. A trap entered
// inside another at the same level is part of that handler's code and must let
// ProgramEnded unwind it; the first trap of a level is the handler itself.
QList<int> &activeTraps()
{
    static QList<int> levels;
    return levels;
}

class TrapFrame
{
public:
    TrapFrame()
        : m_level(QThread::currentThread()->loopLevel())
    {
        m_nested = !activeTraps().isEmpty() && activeTraps().constLast() == m_level;
        activeTraps().append(m_level);
    }
    ~TrapFrame() { activeTraps().removeLast(); }
    TrapFrame(const TrapFrame &) = delete;
    TrapFrame &operator=(const TrapFrame &) = delete;

    bool nested() const { return m_nested; }

private:
    int m_level;
    bool m_nested;
};

// Runs the handler; a failure goes to onFailure, whose answer may end the
// program. Nothing but ProgramEnded leaves.
template <class OnFailure>
void runUnder(const std::function<void()> &handler, OnFailure onFailure)
{
    TrapFrame frame;
    try {
        try {
            handler();
        } catch (const ProgramEnded &) {
            throw;
        } catch (const jet::Error &e) {
            onFailure(&e, QString());
        } catch (const std::exception &e) {
            onFailure(nullptr, QString::fromLocal8Bit(e.what()));
        } catch (...) {
            onFailure(nullptr, QString());
        }
    } catch (const ProgramEnded &) {
        if (frame.nested())
            throw;
    }
}

ErrorTable &standingAnswers()
{
    static ErrorTable answers;
    return answers;
}

void runFollowUp(const std::function<void()> &then);

const ErrorAnswer *answerFor(const ErrorTable &answers, const jet::Error &error)
{
    for (const ErrorAnswer &answer : answers)
        if (answer.cause == error.cause())
            return &answer;
    for (const ErrorAnswer &answer : answers)
        if (!answer.cause && answer.number == error.number())
            return &answer;
    return nullptr;
}

// A server out of reach while a window loads is the opener's to answer, once
// it has undone the opening: answered here, the half-loaded window would open.
void passOnWhileLoading(const ErrorTable &answers, const jet::Error &error)
{
    if (!jet::isRetryable(error.cause()) || !windowLoadingHere())
        return;
    for (const ErrorAnswer &answer : answers)
        if (answer.cause == error.cause())
            return;
    throw error;
}

// Gives the table's answer for the error; false when it has none.
bool answerFrom(const ErrorTable &answers, const jet::Error &error)
{
    if (const ErrorAnswer *found = answerFor(answers, error)) {
        const ErrorAnswer &answer = *found;
        if (!answer.box.text.isEmpty()) {
            MessageBoxRequest box = answer.box;
            if (answer.withCause)
                box.text += QLatin1Char('\r') + error.description();
            platform().messageBox(box);
        }
        if (answer.then)
            runFollowUp(answer.then);
        if (answer.endsProgram)
            endProgram(1);
        return true;
    }
    return false;
}

// A refusal for want of a right is no failure of the program: the user is
// told what is not allowed, and the program goes on where the user was.
bool answerRefusal(const jet::Error &error)
{
    if (error.cause() != jet::Cause::Permission)
        return false;
    platform().messageBox({.text = error.description(), .icon = MessageIcon::Exclamation});
    return true;
}

void reportUncaught(const jet::Error *error, const QString &description)
{
    if (error)
        passOnWhileLoading({}, *error);
    if (error && (answerFrom(standingAnswers(), *error) || answerRefusal(*error)))
        return;
    platform().messageBox(error ? uncaughtErrorBox(error->number(), error->description())
                                : uncaughtErrorBox(0, description));
    endProgram(1);
}

// An answer's follow-up runs outside the trap that chose it, as in an error
// handler: its own failure is an uncaught one.
void runFollowUp(const std::function<void()> &then)
{
    try {
        then();
    } catch (const ProgramEnded &) {
        throw;
    } catch (const jet::Error &e) {
        reportUncaught(&e, QString());
    } catch (const std::exception &e) {
        reportUncaught(nullptr, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reportUncaught(nullptr, QString());
    }
}

} // namespace

ErrorAnswer lockedAnswer(const QString &text)
{
    ErrorAnswer answer{0, {.text = text, .icon = MessageIcon::Exclamation}, {}, false};
    answer.cause = jet::Cause::Busy;
    return answer;
}

void trap(const std::function<void()> &handler, const ErrorTable &answers)
{
    runUnder(handler, [&answers](const jet::Error *error, const QString &) {
        if (error)
            passOnWhileLoading(answers, *error);
        if (error && (answerFrom(answers, *error) || answerFrom(standingAnswers(), *error) || answerRefusal(*error)))
            return;
        showFatalError();
        endProgram(1);
    });
}

ErrorAnswer unreachableAnswer()
{
    ErrorAnswer answer{0,
                       {.text = QStringLiteral("データベースのサーバーに接続できないため、この操作はできませんでした。\r"
                                               "サーバーが使えるようになってから、もう一度操作してください。"),
                        .icon = MessageIcon::Exclamation},
                       {},
                       false,
                       true};
    answer.cause = jet::Cause::ConnectionLost;
    return answer;
}

void answerUnreachable(const jet::Error &error)
{
    answerFrom({unreachableAnswer()}, error);
}

void setStandingAnswers(const ErrorTable &answers)
{
    standingAnswers() = answers;
}

void untrapped(const std::function<void()> &handler)
{
    runUnder(handler, reportUncaught);
}

MessageBoxRequest fatalErrorBox()
{
    MessageBoxRequest box;
    box.text = QStringLiteral("問題が発生したため、ネモリアを終了します。") + QLatin1Char('\n')
        + QStringLiteral("ご不便をおかけして申し訳ありません。");
    box.icon = MessageIcon::Critical;
    box.buttons = MessageButtons::Ok;
    return box;
}

void showFatalError()
{
    platform().messageBox(fatalErrorBox());
}

MessageBoxRequest uncaughtErrorBox(qint32 number, const QString &description)
{
    // The runtime's own wording; HRESULTs also in the hexadecimal the documentation uses.
    // A failure from outside the engine has no number to name.
    QString numberText = QString::number(number);
    if (number < 0)
        numberText += QStringLiteral(" (%1)").arg(quint32(number), 8, 16, QLatin1Char('0'));
    const QString heading = number == 0 ? QStringLiteral("実行時エラー:") : QStringLiteral("実行時エラー '%1':").arg(numberText);
    MessageBoxRequest box;
    box.text = heading + QStringLiteral("\n\n") + (description.isEmpty() ? QStringLiteral("不明なエラーです。") : description);
    box.icon = MessageIcon::Critical;
    box.buttons = MessageButtons::Ok;
    return box;
}

} // namespace toolkit
