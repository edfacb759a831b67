#include "db/engine/command.h"

#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"

namespace jet {

Command::Command(Connection *connection, const QString &commandText) : m_connection(connection), m_text(commandText) {}

void Command::appendParameter(const QString &name, const QVariant &value)
{
    m_parameters.push_back({name, value});
}

void Command::setParameter(int index, const QVariant &value)
{
    if (index < 0 || index >= int(m_parameters.size()))
        throw Error(err::ItemNotFound, QStringLiteral("パラメータ %1 がありません。").arg(index));
    m_parameters[size_t(index)].value = value;
}

void Command::setParameter(const QString &name, const QVariant &value)
{
    for (Parameter &p : m_parameters)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0) {
            p.value = value;
            return;
        }
    throw Error(err::ItemNotFound, QStringLiteral("パラメータ '%1' がありません。").arg(name));
}

QVariant Command::parameter(const QString &name) const
{
    for (const Parameter &p : m_parameters)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return p.value;
    throw Error(err::ItemNotFound, QStringLiteral("パラメータ '%1' がありません。").arg(name));
}

QVariantList Command::parameterValues() const
{
    QVariantList values;
    for (const Parameter &p : m_parameters)
        values.append(p.value);
    return values;
}

std::unique_ptr<Recordset> Command::execute() const
{
    if (!m_connection)
        throw Error(err::ObjectClosed, QStringLiteral("コマンドに接続が設定されていません。"));
    auto recordset = std::make_unique<Recordset>();
    recordset->openCommand(m_text, m_connection, parameterValues());
    return recordset;
}

} // namespace jet
