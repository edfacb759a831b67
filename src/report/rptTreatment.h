#pragma once

#include "report/layout.h"

// The treatment voucher: one line per current in-patient, ticked and written
// on by hand at the bedside.
class rptTreatment : public report::Layout
{
public:
    rptTreatment();
};
