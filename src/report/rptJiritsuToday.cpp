#include "report/rptJiritsuToday.h"

using namespace Qt::StringLiterals;

rptJiritsuToday::rptJiritsuToday()
    : report::TodayCertificate(u"rptJiritsuToday"_s, certificates::Kind::Medical, {}, {}, false)
{
}
