#pragma once

#include <QDate>
#include <QString>
#include <optional>

namespace toolkit {

// One era of the Japanese calendar, in the three forms the era tokens print.
struct Era
{
    QDate firstDay;
    QString name;    // "ggg": 平成
    QString initial; // "gg": 平
    QString letter;  // "g": H
};

// The era a date falls in; nothing for a date before 明治 or an invalid date.
std::optional<Era> eraOf(const QDate &date);

// The year within the era: the year of the era's first day counts 1.
int eraYear(const Era &era, const QDate &date);

} // namespace toolkit
