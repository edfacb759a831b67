#pragma once

#include "report/certificateform.h"

// The outpatient-subsidy certificate, page 2: the state in detail, the
// treatment, its plan, the welfare services, the remarks and the signature
// block with today's date and the institution (Label18 to Label21, written
// at run time).
class rpt32New2 : public report::CertificateForm
{
public:
    rpt32New2();
};
