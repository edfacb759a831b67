#pragma once

#include "report/certificateform.h"

// The outpatient-subsidy certificate, page 1: the patient, the diagnoses,
// the history and the ten condition groups.
class rpt32New : public report::CertificateForm
{
public:
    rpt32New();
};
