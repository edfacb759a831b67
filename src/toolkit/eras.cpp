#include "toolkit/eras.h"

#include <array>

namespace toolkit {

namespace {

// 明治 starts on 1868-01-01 as in the Japanese calendar of Windows, whose
// dates the documents were printed with; the historical proclamation
// (1868-10-23, back-dated to New Year) would only matter for dates nobody enters.
const std::array<Era, 5> &eras()
{
    static const std::array<Era, 5> table = {{
        {QDate(2019, 5, 1), QStringLiteral("令和"), QStringLiteral("令"), QStringLiteral("R")},
        {QDate(1989, 1, 8), QStringLiteral("平成"), QStringLiteral("平"), QStringLiteral("H")},
        {QDate(1926, 12, 25), QStringLiteral("昭和"), QStringLiteral("昭"), QStringLiteral("S")},
        {QDate(1912, 7, 30), QStringLiteral("大正"), QStringLiteral("大"), QStringLiteral("T")},
        {QDate(1868, 1, 1), QStringLiteral("明治"), QStringLiteral("明"), QStringLiteral("M")},
    }};
    return table;
}

} // namespace

std::optional<Era> eraOf(const QDate &date)
{
    if (!date.isValid())
        return std::nullopt;
    for (const Era &era : eras()) {
        if (date >= era.firstDay)
            return era;
    }
    return std::nullopt;
}

int eraYear(const Era &era, const QDate &date)
{
    return date.year() - era.firstDay.year() + 1;
}

} // namespace toolkit
