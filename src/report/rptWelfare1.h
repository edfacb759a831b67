#pragma once

#include "report/certificateform.h"

// The welfare-handbook certificate, page 1: the subsidy certificate's first
// page with the first visit and the severity of the conditions.
class rptWelfare1 : public report::CertificateForm
{
public:
    rptWelfare1();
};
