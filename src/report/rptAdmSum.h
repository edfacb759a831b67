#pragma once

#include "report/layout.h"

// The admission summary of one episode.
class rptAdmSum : public report::Layout
{
public:
    rptAdmSum();
};
