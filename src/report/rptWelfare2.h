#pragma once

#include "report/certificateform.h"

// The welfare-handbook certificate, page 2: the ability to live alone, the
// welfare services, the remarks and the signature block with today's date
// and the institution (Label18 to Label21, written at run time) and the
// physician's standing.
class rptWelfare2 : public report::CertificateForm
{
public:
    rptWelfare2();
};
