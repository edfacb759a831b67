#pragma once

#include <QFont>
#include <QLine>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

namespace report {

// What a laid-out page holds, in twips from the paper's top left corner.
// Pages are plain data: tests read them, and painting them on a printer, a
// PDF or the preview is the only thing left to do with them.
struct TextRun
{
    QRect rect;
    QString text;
    QFont font;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
    QString item; // the layout item it came from
};

struct Rule
{
    QLine line;
    int width = 15;
};

struct Frame
{
    QRect rect;
    int width = 15;
};

// A mark's circle drawn round a word too wide for the "○" of its font.
struct Oval
{
    QRect rect;
    int width = 12;
    QString item; // the mark it draws
};

struct Page
{
    QSize paper; // twips
    QList<TextRun> texts;
    QList<Rule> rules;
    QList<Frame> frames;
    QList<Oval> ovals;

    // The runs of one item, in the order laid out.
    QList<TextRun> runsOf(const QString &item) const;
    // Every run's text, in the order laid out, one per line.
    QString plainText() const;
};

} // namespace report
