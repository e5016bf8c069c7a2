#include "SystemError.h"

#include "Exception.h"

#include <QFileDevice>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

#include <filesystem>
#include <system_error>

namespace corvane {

SystemError::SystemError(const QString &description, std::optional<QString> recoverySuggestion, UserInfo userInfo)
    : m_recoverySuggestion(std::move(recoverySuggestion))
    , m_userInfo(std::move(userInfo))
{
    setDescription(description);
}

void SystemError::setDescription(const QString &description)
{
    m_description = description;
    m_what = description.toUtf8();
}

SystemError SystemError::fromFile(FileOperation operation, const QString &path, const QString &reason)
{
    const QString name = QFileInfo(path).fileName();
    const QString description = operation == FileOperation::Read
        ? QStringLiteral("The file \u201c%1\u201d could not be opened.").arg(name)
        : QStringLiteral("The file \u201c%1\u201d could not be saved.").arg(name);
    return SystemError(
        description, std::nullopt, { { QStringLiteral("File"), path }, { QStringLiteral("Reason"), reason } });
}

SystemError SystemError::fromFile(FileOperation operation, const QFileDevice &file)
{
    return fromFile(operation, file.fileName(), file.errorString());
}

SystemError SystemError::fromNetwork(const QUrl &url, const QString &reason)
{
    return SystemError(QStringLiteral("The server \u201c%1\u201d could not be reached.").arg(url.host()),
        QStringLiteral("Check the network connection and try again later."),
        { { QStringLiteral("URL"), url.toString() }, { QStringLiteral("Reason"), reason } });
}

SystemError toSystemError(const std::exception &error)
{
    if (const auto *systemError = dynamic_cast<const SystemError *>(&error))
        return *systemError;
    if (const auto *exception = dynamic_cast<const Exception *>(&error))
        return SystemError(exception->message(), exception->information());
    if (const auto *fsError = dynamic_cast<const std::filesystem::filesystem_error *>(&error)) {
        const auto toQString = [](const std::filesystem::path &path) { return QString::fromStdString(path.string()); };
        SystemError converted(QStringLiteral("The file \u201c%1\u201d could not be accessed.")
                                  .arg(toQString(fsError->path1().filename())));
        converted.addUserInfo(QStringLiteral("File"), toQString(fsError->path1()));
        if (!fsError->path2().empty())
            converted.addUserInfo(QStringLiteral("Second file"), toQString(fsError->path2()));
        converted.addUserInfo(QStringLiteral("Reason"), QString::fromStdString(fsError->code().message()));
        return converted;
    }
    if (const auto *sysError = dynamic_cast<const std::system_error *>(&error)) {
        SystemError converted(QString::fromUtf8(sysError->what()));
        converted.addUserInfo(QStringLiteral("Reason"), QString::fromStdString(sysError->code().message()));
        return converted;
    }
    return SystemError(QString::fromUtf8(error.what()));
}

SystemError toSystemError(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return toSystemError(e);
    } catch (...) { }
    return SystemError(QStringLiteral("An unknown error occurred."));
}

QString describeValue(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("nil");
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QUrl: {
        const QUrl url = value.toUrl();
        return url.isLocalFile() ? url.toLocalFile() : url.toString();
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QStringList items;
        for (const QVariant &item : value.toList())
            items.append(describeValue(item));
        return u'[' + items.join(QStringLiteral(", ")) + u']';
    }
    default:
        break;
    }
    if (value.canConvert<QString>())
        return value.toString();
    return QString::fromLatin1(value.typeName());
}

} // namespace corvane
