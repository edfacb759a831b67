// Filters and find criteria, with a field of each type the lookup can give.
#include "db/engine/error.h"
#include "db/engine/jetsql.h"

#include <cstddef>
#include <cstdint>

using jet::sql::FieldInfo;

namespace {

std::optional<FieldInfo> lookup(const QString &name)
{
    if (name == QStringLiteral("かな氏名"))
        return FieldInfo{QStringLiteral("`患者情報`.`かな氏名`"), FieldInfo::Type::Text};
    if (name == QStringLiteral("入退院ID") || name == QStringLiteral("入退院情報.入退院ID"))
        return FieldInfo{QStringLiteral("`入退院情報`.`入退院ID`"), FieldInfo::Type::Number};
    if (name == QStringLiteral("入院日"))
        return FieldInfo{QStringLiteral("`入退院情報`.`入院日`"), FieldInfo::Type::Date};
    if (name == QStringLiteral("外入の別"))
        return FieldInfo{QStringLiteral("`入退院情報`.`外入の別`"), FieldInfo::Type::Boolean};
    if (name == QStringLiteral("備考"))
        return FieldInfo{QStringLiteral("`備考`"), FieldInfo::Type::Unknown};
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const jet::Dialect dialect : {jet::Dialect::Sqlite, jet::Dialect::Postgres}) {
        try {
            jet::sql::translateFilter(text, lookup, dialect);
        } catch (const jet::Error &) {
        }
        try {
            jet::sql::translateCriterion(text, lookup, dialect);
        } catch (const jet::Error &) {
        }
    }
    return 0;
}
