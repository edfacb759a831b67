#pragma once

#include "db/engine/error.h"
#include "toolkit/platform.h"

#include <QList>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace toolkit {

// How a handler's error trap answers one engine error number.
struct ErrorAnswer {
    qint32 number;
    MessageBoxRequest box;         // shown first (skipped when box.text is empty)
    std::function<void()> then; // runs after the box (may be empty)
    bool endsProgram = true;    // most answers end the program
    bool withCause = false;     // the box gains a line with the error's own description
    // Answers, whatever its number and before the numbers, an error of this
    // cause: a server out of reach (jet::Cause::ConnectionLost, which the
    // next try passes once it is back) or a database that another
    // workstation kept locked past the wait (jet::Cause::Busy) is not a
    // failure of the work.  The number is then ignored.
    std::optional<jet::Cause> cause = std::nullopt;
};
using ErrorTable = QList<ErrorAnswer>;

// The one answer to the server out of reach where a window opens or a list
// loads: a box saying so, whose second line names the server, and the program
// goes on where the user was; the same action works once the server is back.
ErrorAnswer unreachableAnswer();
// Gives it for the error.
void answerUnreachable(const jet::Error &error);

// The answer to a database that another workstation kept locked past the
// engine's wait: an exclamation box with the text, and the program goes on,
// so that the user may try again.
ErrorAnswer lockedAnswer(const QString &text);

// Runs a handler under one trap: a jet::Error whose number is in the table gets
// its answer (first match in table order); inside a window's load, an error
// that may be tried again and that the table does not answer goes on to the
// opener, which answers it (navigation.h); a refusal for want of a right
// (jet::Cause::Permission) that the table does not answer, a box with its
// text, and the program goes on; any other failure, a std::exception
// that is no jet::Error included, the fatal error box and endProgram(1).
// ProgramEnded stops at the outermost trap of the current event loop, so a trap
// nested inside another handler's code never lets that code run on.
void trap(const std::function<void()> &handler, const ErrorTable &answers = {});
// Answers for errors that mean the same wherever they arise (a damaged
// database file): every trap whose own table lacks the number gives them, and
// so does a handler without a trap, instead of the generic reports.
void setStandingAnswers(const ErrorTable &answers);
// A handler "without a trap of its own": a failure shows the platform's standard
// report of an uncaught error (a box naming the error number and description)
// and ends the program.
void untrapped(const std::function<void()> &handler);

// The fatal error box, without ending the program.
void showFatalError();
MessageBoxRequest fatalErrorBox();
// The standard report of an uncaught error for an engine error number and
// description; number 0 stands for a failure from outside the engine.
MessageBoxRequest uncaughtErrorBox(qint32 number, const QString &description);

} // namespace toolkit
