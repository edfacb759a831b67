#pragma once

#include "report/careplan.h"

// The discharge care plan of one episode.
class rptDischargePlan : public report::CarePlanForm
{
public:
    rptDischargePlan();
};
