#pragma once

#include "report/layout.h"

// The discharge history of one episode.
class rptDischargeHis : public report::Layout
{
public:
    rptDischargeHis();
};
