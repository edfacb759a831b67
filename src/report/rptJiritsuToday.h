#pragma once

#include "report/todaycertificate.h"

// Today's 自立支援医療（精神通院医療）診断書 with its 「重度かつ継続」 section.
class rptJiritsuToday : public report::TodayCertificate
{
public:
    rptJiritsuToday();
};
