#include "report/rptTechoToday.h"

using namespace Qt::StringLiterals;

rptTechoToday::rptTechoToday()
    : report::TodayCertificate(u"rptTechoToday"_s, certificates::Kind::Handbook, {}, {}, false)
{
}
