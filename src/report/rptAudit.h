#pragma once

#include "report/layout.h"

// The audit trail's rows as the audit window lists them, one line each,
// newest first, on landscape sheets; Label2 under the title says which rows
// they are.  The rows give 記録番号, 時刻 (local, as text), アカウント, 端末,
// 操作, カルテID, 入退院ID and 詳細.
class rptAudit : public report::Layout
{
public:
    rptAudit();
};
