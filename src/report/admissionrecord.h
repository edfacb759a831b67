#pragma once

#include "report/layout.h"

namespace report {

// The admission records of a recent period: one line per episode admitted or
// discharged in it, in the in-patient list's room order.  The period is the
// page header's Label2, written at run time.
class AdmissionRecordForm : public Layout
{
protected:
    AdmissionRecordForm(const QString &layoutName, const QString &title);
};

} // namespace report

// The last week's admission records.
class rptAdmRecord1 : public report::AdmissionRecordForm
{
public:
    rptAdmRecord1();
};

// The last two weeks' admission records.
class rptAdmRecord2 : public report::AdmissionRecordForm
{
public:
    rptAdmRecord2();
};
