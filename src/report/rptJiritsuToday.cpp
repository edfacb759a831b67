#include "report/rptJiritsuToday.h"

using namespace Qt::StringLiterals;

rptJiritsuToday::rptJiritsuToday(const QString &edition, const QString &variant, bool separateSheet)
    : report::TodayCertificate(u"rptJiritsuToday"_s, certificates::Kind::Medical, edition, variant, separateSheet)
{
}

std::unique_ptr<report::TodayCertificate> rptJiritsuToday::make(const QString &edition, const QString &variant,
                                                          bool separateSheet) const
{
    return std::make_unique<rptJiritsuToday>(edition, variant, separateSheet);
}
