#include "db/engine/sqlite/sqlite_support.h"

#include "db/engine/error.h"
#include "db/engine/jetdate.h"
#include "db/engine/jetsql.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <cmath>
#include <limits>
#include <sqlite3.h>

namespace jet::detail {

namespace {

QString afterColon(const QString &message)
{
    const int colon = message.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : message.mid(colon + 1).trimmed();
}

} // namespace

Cause causeOf(int code)
{
    // A write that meets a newer snapshot than its read is a conflict with
    // another transaction, not a lock to wait out: it begins again.
    if (code == SQLITE_BUSY_SNAPSHOT)
        return Cause::Serialization;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Cause::Busy;
    case SQLITE_CONSTRAINT:
        return Cause::Constraint;
    case SQLITE_FULL:
        return Cause::DiskFull;
    case SQLITE_IOERR:
        return Cause::Io;
    case SQLITE_READONLY:
        return Cause::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Cause::Corrupt;
    case SQLITE_AUTH:
        return Cause::Authentication;
    default:
        return Cause::Other;
    }
}

void raise(sqlite3 *db, int code, const QString &context)
{
    const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(code));
    const QString where = context.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(context);
    const int primary = code & 0xff;
    // The handle's extended code tells more than the primary one handed in,
    // as long as it belongs to the same failure.
    const int extended = db && (sqlite3_extended_errcode(db) & 0xff) == primary ? sqlite3_extended_errcode(db) : code;
    const Cause cause = causeOf(extended);
    if (message.startsWith(QLatin1String("no such table")) || message.startsWith(QLatin1String("no such view")))
        throw Error(err::TableMissing,
                    QStringLiteral("入力テーブルまたはクエリ '%1' が見つかりませんでした。").arg(afterColon(message)) + where);
    if (message.startsWith(QLatin1String("no such column")))
        throw Error(err::ColumnMissing,
                    QStringLiteral("列 '%1' が見つかりません。1 つ以上の必要なパラメータに値が設定されていません。")
                        .arg(afterColon(message)) + where);
    if (message.startsWith(QLatin1String("no such function")) || message.contains(QLatin1String("syntax error"))
        || message.startsWith(QLatin1String("near ")))
        throw Error(err::SyntaxError, QStringLiteral("SQL ステートメントが正しくありません: %1").arg(message) + where);
    switch (cause) {
    case Cause::Constraint:
        throw Error(err::GeneralFailure,
                    QStringLiteral("インデックス、主キー、またはリレーションシップで重複する値が生成されるため、変更できませんでした。: %1")
                        .arg(message) + where, cause);
    case Cause::DiskFull:
        throw Error(err::GeneralFailure, QStringLiteral("ディスクの空き容量が不足しています。") + where, cause);
    case Cause::Io:
        throw Error(err::GeneralFailure, QStringLiteral("ディスクの読み書きに失敗しました: %1").arg(message) + where, cause);
    case Cause::ReadOnly:
        throw Error(err::GeneralFailure, QStringLiteral("データベースが読み取り専用のため、書き込めません。") + where, cause);
    case Cause::Busy:
    case Cause::Serialization:
        throw Error(err::GeneralFailure, QStringLiteral("ほかのユーザーがデータをロックしているため、更新できませんでした。") + where,
                    cause);
    case Cause::Corrupt: {
        // A damaged page may surface at any read, long after the file opened: the
        // error names the file, since that is what an administrator has to mend.
        const char *file = db ? sqlite3_db_filename(db, "main") : nullptr;
        throw Error(err::DatabaseDamaged,
                    QStringLiteral("データベース '%1' は破損しています (%2)。")
                        .arg(file ? QFile::decodeName(file) : QString(), message) + where, cause);
    }
    default:
        break;
    }
    if (primary == SQLITE_CANTOPEN)
        throw Error(err::GeneralFailure, QStringLiteral("データベースを開けません: %1").arg(message) + where, cause);
    if (message.startsWith(QLatin1String("table")) && message.contains(QLatin1String("already exists")))
        throw Error(err::GeneralFailure, QStringLiteral("オブジェクトは既に存在します: %1").arg(message) + where, cause);
    throw Error(err::GeneralFailure, QStringLiteral("データベースエンジンのエラー: %1").arg(message) + where, cause);
}

void check(sqlite3 *db, int code, const QString &context)
{
    if (code != SQLITE_OK && code != SQLITE_DONE && code != SQLITE_ROW)
        raise(db, code, context);
}

Statement::Statement(sqlite3 *db, const QString &sql) : m_db(db)
{
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        raise(db, rc);
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement &&other) noexcept : m_db(other.m_db), m_stmt(other.m_stmt)
{
    other.m_stmt = nullptr;
}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = other.m_db;
        m_stmt = other.m_stmt;
        other.m_stmt = nullptr;
    }
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(m_stmt);
    raise(m_db, rc);
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

void Statement::bind(int index, const QVariant &value)
{
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else {
        switch (value.metaType().id()) {
        case QMetaType::Bool:
            rc = sqlite3_bind_int(m_stmt, index, value.toBool() ? -1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::ULong:
        case QMetaType::ULongLong:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QDate:
            rc = sqlite3_bind_double(m_stmt, index, toDayNumber(value.toDate()));
            break;
        case QMetaType::QDateTime:
            rc = sqlite3_bind_double(m_stmt, index, toDayNumber(value.toDateTime()));
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray utf8 = value.toString().toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }
    check(m_db, rc);
}

void Statement::bindAll(const QVariantList &values, int first)
{
    for (int i = 0; i < values.size(); ++i)
        bind(first + i, values.at(i));
}

QVariant Statement::column(int index) const
{
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_stmt, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, index));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, index)),
                                          sqlite3_column_bytes(m_stmt, index)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, index)),
                                   sqlite3_column_bytes(m_stmt, index)));
    default:
        return QVariant();
    }
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

void exec(sqlite3 *db, const QString &sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    sqlite3_free(message);
    check(db, rc, sql.left(120));
}

// Declared types keep the Jet type and size readable in the stock shell while
// giving SQLite the affinity that stores the value unchanged.
QString declaredType(const ColumnDef &column)
{
    switch (column.type) {
    case DataType::Long:
        // Not "INTEGER": a primary key of that exact type would become SQLite's
        // row key, and joins on it would read the table rather than its index.
        return QStringLiteral("INT");
    case DataType::Integer:
        return QStringLiteral("SMALLINT");
    case DataType::Double:
        return QStringLiteral("DOUBLE");
    case DataType::YesNo:
        return QStringLiteral("YESNO INTEGER");
    case DataType::Text:
        return QStringLiteral("TEXT(%1)").arg(column.definedSize > 0 ? column.definedSize : 255);
    case DataType::FixedText:
        return QStringLiteral("CHAR(%1)").arg(column.definedSize > 0 ? column.definedSize : 255);
    case DataType::Memo:
        return column.definedSize > 0 ? QStringLiteral("LONGTEXT(%1)").arg(column.definedSize) : QStringLiteral("LONGTEXT");
    case DataType::Date:
        return QStringLiteral("DATETIME REAL");
    }
    return QStringLiteral("TEXT");
}

DeclaredType parseDeclaredType(const QString &declared)
{
    static const QRegularExpression sized(QStringLiteral(R"(\((\d+)\))"));
    DeclaredType result;
    const QString upper = declared.trimmed().toUpper();
    if (upper.isEmpty())
        return result;
    const QRegularExpressionMatch m = sized.match(upper);
    result.size = m.hasMatch() ? m.captured(1).toInt() : 0;
    result.known = true;
    if (upper.startsWith(QLatin1String("YESNO")) || upper.startsWith(QLatin1String("BOOL")) || upper == QLatin1String("BIT"))
        result.type = DataType::YesNo;
    else if (upper.startsWith(QLatin1String("DATE")) || upper.startsWith(QLatin1String("TIME")))
        result.type = DataType::Date;
    else if (upper.startsWith(QLatin1String("SMALLINT")))
        result.type = DataType::Integer;
    else if (upper.contains(QLatin1String("INT")) || upper.startsWith(QLatin1String("LONG ")) || upper == QLatin1String("LONG"))
        result.type = DataType::Long;
    else if (upper.startsWith(QLatin1String("LONGTEXT")) || upper.startsWith(QLatin1String("MEMO")))
        result.type = DataType::Memo;
    else if (upper.startsWith(QLatin1String("CHAR")) || upper.startsWith(QLatin1String("NCHAR")))
        result.type = DataType::FixedText;
    else if (upper.contains(QLatin1String("CHAR")) || upper.contains(QLatin1String("TEXT")) || upper.contains(QLatin1String("CLOB")))
        result.type = DataType::Text;
    else if (upper.contains(QLatin1String("REAL")) || upper.contains(QLatin1String("FLOA")) || upper.contains(QLatin1String("DOUB"))
             || upper.contains(QLatin1String("NUM")) || upper.contains(QLatin1String("DEC")))
        result.type = DataType::Double;
    else
        result.known = false;
    return result;
}

namespace {

QVariant integerValue(qlonglong v)
{
    if (v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
        return QVariant(int(v));
    return QVariant(v);
}

QVariant naturalValue(const QVariant &raw)
{
    if (raw.metaType().id() == QMetaType::LongLong)
        return integerValue(raw.toLongLong());
    return raw;
}

[[noreturn]] void conversionFailed(const QVariant &value)
{
    throw Error(err::ConversionFailed,
                QStringLiteral("抽出条件でデータ型が一致しません: '%1'").arg(value.toString()));
}

double numberValue(const QVariant &value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok)
        conversionFailed(value);
    return d;
}

// Jet converts a fraction to a whole number by rounding halves to even.
qlonglong roundedInteger(const QVariant &value)
{
    const double d = numberValue(value);
    if (!std::isfinite(d))
        conversionFailed(value);
    return qlonglong(std::nearbyint(d));
}

} // namespace

QVariant fromStorage(const QVariant &raw, DataType type, bool typeKnown)
{
    if (!raw.isValid() || raw.isNull())
        return QVariant();
    if (!typeKnown)
        return naturalValue(raw);
    switch (type) {
    case DataType::Date: {
        const int id = raw.metaType().id();
        if (id == QMetaType::Double || id == QMetaType::LongLong)
            return fromDayNumber(raw.toDouble());
        if (const auto parsed = parseJetDate(raw.toString()))
            return *parsed;
        return raw;
    }
    case DataType::Long:
    case DataType::Integer:
    case DataType::YesNo:
        if (raw.metaType().id() == QMetaType::LongLong)
            return integerValue(raw.toLongLong());
        if (raw.metaType().id() == QMetaType::Double)
            return integerValue(qlonglong(raw.toDouble()));
        return raw;
    case DataType::Double:
        return raw.metaType().id() == QMetaType::QString ? raw : QVariant(raw.toDouble());
    case DataType::Text:
    case DataType::FixedText:
    case DataType::Memo:
        return raw.metaType().id() == QMetaType::QString ? raw : QVariant(raw.toString());
    }
    return raw;
}

QVariant toStorage(const QVariant &value, DataType type, bool typeKnown)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    const int id = value.metaType().id();
    if (!typeKnown) {
        if (id == QMetaType::Bool)
            return value.toBool() ? -1 : 0;
        if (id == QMetaType::QDate)
            return toDayNumber(value.toDate());
        if (id == QMetaType::QDateTime)
            return toDayNumber(value.toDateTime());
        return value;
    }
    switch (type) {
    case DataType::Date:
        if (id == QMetaType::QDate)
            return toDayNumber(value.toDate());
        if (id == QMetaType::QDateTime)
            return toDayNumber(value.toDateTime());
        if (id == QMetaType::QString) {
            if (value.toString().trimmed().isEmpty())
                return QVariant();
            if (const auto parsed = parseJetDate(value.toString()))
                return toDayNumber(*parsed);
            conversionFailed(value);
        }
        return numberValue(value);
    case DataType::Long:
    case DataType::Integer: {
        if (id == QMetaType::Bool)
            return value.toBool() ? -1 : 0;
        if (id == QMetaType::QString && value.toString().trimmed().isEmpty())
            return QVariant();
        const qlonglong v = roundedInteger(value);
        const qlonglong lo = type == DataType::Long ? std::numeric_limits<qint32>::min() : std::numeric_limits<qint16>::min();
        const qlonglong hi = type == DataType::Long ? std::numeric_limits<qint32>::max() : std::numeric_limits<qint16>::max();
        if (v < lo || v > hi)
            throw Error(err::ConversionFailed, QStringLiteral("値が範囲外です: %1").arg(value.toString()));
        return v;
    }
    case DataType::YesNo: {
        if (id == QMetaType::Bool)
            return value.toBool() ? -1 : 0;
        if (id == QMetaType::QString) {
            const QString t = value.toString().trimmed();
            if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || t.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
                return -1;
            if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || t.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0)
                return 0;
        }
        return numberValue(value) != 0 ? -1 : 0;
    }
    case DataType::Double:
        return numberValue(value);
    case DataType::Text:
    case DataType::FixedText:
    case DataType::Memo:
        if (id == QMetaType::QDate)
            return value.toDate().toString(QStringLiteral("yyyy/MM/dd"));
        if (id == QMetaType::QDateTime)
            return value.toDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        if (id == QMetaType::Bool)
            return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        return value.toString();
    }
    return value;
}

QString sqlLiteral(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QStringLiteral("NULL");
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QString::number(value.toLongLong());
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::QDate:
        return QString::number(toDayNumber(value.toDate()), 'g', 17);
    case QMetaType::QDateTime:
        return QString::number(toDayNumber(value.toDateTime()), 'g', 17);
    default:
        return sql::quoteString(value.toString());
    }
}

} // namespace jet::detail
