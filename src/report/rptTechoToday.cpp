#include "report/rptTechoToday.h"

using namespace Qt::StringLiterals;

rptTechoToday::rptTechoToday(const QString &edition, const QString &variant, bool separateSheet)
    : report::TodayCertificate(u"rptTechoToday"_s, certificates::Kind::Handbook, edition, variant, separateSheet)
{
}

std::unique_ptr<report::TodayCertificate> rptTechoToday::make(const QString &edition, const QString &variant,
                                                          bool separateSheet) const
{
    return std::make_unique<rptTechoToday>(edition, variant, separateSheet);
}
