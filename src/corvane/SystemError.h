#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <exception>
#include <optional>
#include <utility>

class QFileDevice;
class QUrl;

namespace corvane {

// The platform's error value: what went wrong, what the user might do about it, and ordered
// details. Thrown as it is by file and network code, and shown with showSystemError.
class SystemError : public std::exception {
public:
    using UserInfo = QList<std::pair<QString, QVariant>>;

    enum class FileOperation { Read, Write };

    explicit SystemError(
        const QString &description, std::optional<QString> recoverySuggestion = std::nullopt, UserInfo userInfo = {});

    [[nodiscard]] const QString &description() const { return m_description; }
    void setDescription(const QString &description);
    [[nodiscard]] const std::optional<QString> &recoverySuggestion() const { return m_recoverySuggestion; }
    void setRecoverySuggestion(std::optional<QString> suggestion) { m_recoverySuggestion = std::move(suggestion); }
    // Entries keep the order in which they were added; the alert lists them in that order.
    [[nodiscard]] const UserInfo &userInfo() const { return m_userInfo; }
    void addUserInfo(const QString &key, const QVariant &value) { m_userInfo.append({ key, value }); }

    [[nodiscard]] const char *what() const noexcept override { return m_what.constData(); }

    // A failed read or write of the file at path; reason is the operating system's explanation.
    [[nodiscard]] static SystemError fromFile(FileOperation operation, const QString &path, const QString &reason);
    // The same for a QFile or QSaveFile whose last operation failed.
    [[nodiscard]] static SystemError fromFile(FileOperation operation, const QFileDevice &file);
    // A failed download or upload of url; reason is the network layer's explanation.
    [[nodiscard]] static SystemError fromNetwork(const QUrl &url, const QString &reason);

private:
    QString m_description;
    std::optional<QString> m_recoverySuggestion;
    UserInfo m_userInfo;
    QByteArray m_what;
};

// Converts any error into a system error: a SystemError stays as it is, filesystem and system errors
// keep their paths and the operating system's reason, anything else is described by its what().
[[nodiscard]] SystemError toSystemError(const std::exception &error);
[[nodiscard]] SystemError toSystemError(const std::exception_ptr &error);

// The text a user-info value shows in an alert.
[[nodiscard]] QString describeValue(const QVariant &value);

} // namespace corvane
