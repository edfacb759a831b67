#include "db/engine/error.h"

namespace jet {

Error::Error(qint32 number, const QString &description, Cause cause)
    : std::runtime_error(description.toStdString()), m_number(number), m_description(description), m_cause(cause)
{
}

bool isRetryable(Cause cause)
{
    return cause == Cause::ConnectionLost;
}

QString Error::numberText() const
{
    return QString::number(m_number);
}

} // namespace jet
