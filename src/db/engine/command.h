#pragma once

#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

namespace jet {

class Connection;
class Recordset;

// A command over SQL text or a stored query's name with "?" parameters, set by
// name or position, executed to a recordset or for its effect.
class Command
{
public:
    Command() = default;
    explicit Command(Connection *connection, const QString &commandText = {});

    void setActiveConnection(Connection *connection) { m_connection = connection; }
    void setCommandText(const QString &text) { m_text = text; }
    QString commandText() const { return m_text; }

    // Parameters bind to the "?" markers in the order they were appended.
    void appendParameter(const QString &name, const QVariant &value = {});
    void setParameter(int index, const QVariant &value);
    void setParameter(const QString &name, const QVariant &value);
    QVariant parameter(const QString &name) const;
    QVariantList parameterValues() const;

    // Opens an editable static recordset over the command's result.
    std::unique_ptr<Recordset> execute() const;

private:
    struct Parameter
    {
        QString name;
        QVariant value;
    };
    Connection *m_connection = nullptr;
    QString m_text;
    std::vector<Parameter> m_parameters;
};

} // namespace jet
