// Dates typed into a bound field and dates in criteria and #...# literals.
// A date the engine reads must survive the trip to a day number and back,
// and what a field shows for it must write back as the same day.
#include "db/engine/error.h"
#include "db/engine/jetdate.h"
#include "toolkit/format.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    if (const std::optional<QDateTime> moment = jet::parseJetDate(text)) {
        if (!moment->isValid() || jet::fromDayNumber(jet::toDayNumber(*moment)) != *moment)
            std::abort();
        const QString shown = toolkit::formatDate(moment->date(), toolkit::shortDateFormat());
        if (toolkit::dateFromText(shown).toDateTime() != QDateTime(moment->date(), QTime(0, 0)))
            std::abort();
        toolkit::formatDate(moment->date(), QStringLiteral("ggge年m月d日"));
    }

    try {
        const QVariant stored = toolkit::dateFromText(text);
        if (!stored.isNull() && (!stored.toDateTime().isValid() || stored.toDateTime().time() != QTime(0, 0)))
            std::abort();
    } catch (const jet::Error &) {
    }
    return 0;
}
