#pragma once

#include "report/todaycertificate.h"

// Today's 精神障害者保健福祉手帳用診断書, or the combined form where the
// prefecture's variant has one.
class rptTechoToday : public report::TodayCertificate
{
public:
    rptTechoToday();
};
