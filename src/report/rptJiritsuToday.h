#pragma once

#include "report/todaycertificate.h"

// Today's 自立支援医療（精神通院医療）診断書 with its 「重度かつ継続」 section.
class rptJiritsuToday : public report::TodayCertificate
{
public:
    rptJiritsuToday(const QString &edition = {}, const QString &variant = {}, bool separateSheet = false);

private:
    std::unique_ptr<report::TodayCertificate> make(const QString &edition, const QString &variant,
                                                   bool separateSheet) const override;
};
