#pragma once

#include "report/layout.h"

// The certificates whose validity ends soon, one line each, for the
// outpatient desk to call the patients in for a renewal.
class rptRenewals : public report::Layout
{
public:
    rptRenewals();
};
