#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <optional>

namespace corvane {

// The library's error with a user-facing message. When it reaches the user it is shown as an
// alert titled by the message, with the information as the alert's informative text. The cause is
// kept for whoever catches the exception; the alert never shows it.
class Exception : public std::exception {
public:
    explicit Exception(const QString &message);
    Exception(const QString &message, const QString &information);
    Exception(const QString &message, std::exception_ptr cause);

    [[nodiscard]] const QString &message() const { return m_message; }
    void setMessage(const QString &message);
    [[nodiscard]] const std::optional<QString> &information() const { return m_information; }
    void setInformation(std::optional<QString> information) { m_information = std::move(information); }
    [[nodiscard]] const std::exception_ptr &cause() const { return m_cause; }
    void setCause(std::exception_ptr cause) { m_cause = std::move(cause); }

    [[nodiscard]] const char *what() const noexcept override { return m_what.constData(); }

    // Posts this exception's alert to the UI thread and returns at once. Callable from any thread.
    void show() const;

private:
    QString m_message;
    std::optional<QString> m_information;
    std::exception_ptr m_cause;
    QByteArray m_what;
};

} // namespace corvane
