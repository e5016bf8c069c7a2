#include "Exception.h"

#include "Alerts.h"

namespace corvane {

Exception::Exception(const QString &message)
{
    setMessage(message);
}

Exception::Exception(const QString &message, const QString &information)
    : m_information(information)
{
    setMessage(message);
}

Exception::Exception(const QString &message, std::exception_ptr cause)
    : m_cause(std::move(cause))
{
    setMessage(message);
}

void Exception::setMessage(const QString &message)
{
    m_message = message;
    m_what = message.toUtf8();
}

void Exception::show() const
{
    Alert alert;
    alert.message = m_message;
    alert.informativeText = m_information.value_or(QString());
    postAlert(std::move(alert));
}

} // namespace corvane
