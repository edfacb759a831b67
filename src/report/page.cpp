#include "report/page.h"

namespace report {

QList<TextRun> Page::runsOf(const QString &item) const
{
    QList<TextRun> runs;
    for (const TextRun &run : texts) {
        if (run.item == item)
            runs.append(run);
    }
    return runs;
}

QString Page::plainText() const
{
    QStringList lines;
    for (const TextRun &run : texts)
        lines.append(run.text);
    return lines.join(QLatin1Char('\n'));
}

} // namespace report
