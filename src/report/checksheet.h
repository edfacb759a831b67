#pragma once

#include "report/layout.h"

#include <QList>

namespace report {

// The psychotherapy check sheets' form, in landscape: the patient's name and
// admission date at the left of each line, then blank columns in which the
// staff note each session by hand, grouped under the kind of session.
class CheckSheetForm : public Layout
{
public:
    struct Group
    {
        QString caption;
        int sessions = 0; // the columns "１回目", "２回目" … under it
    };

protected:
    CheckSheetForm(const QString &layoutName, const QString &title, const QList<Group> &groups);
};

} // namespace report

class rptAdmPsy1 : public report::CheckSheetForm
{
public:
    rptAdmPsy1();
};

class rptAdmPsy2 : public report::CheckSheetForm
{
public:
    rptAdmPsy2();
};

class rptAdmPsy3 : public report::CheckSheetForm
{
public:
    rptAdmPsy3();
};
