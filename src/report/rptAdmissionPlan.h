#pragma once

#include "report/careplan.h"

// The admission care plan of one episode.
class rptAdmissionPlan : public report::CarePlanForm
{
public:
    rptAdmissionPlan();
};
