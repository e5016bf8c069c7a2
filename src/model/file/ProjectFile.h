#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

class Project;

// Why a project could not be read or written, in words meant for the user: what is wrong and
// where. what() holds the same text in UTF-8.
class ProjectFileError : public std::runtime_error {
public:
    explicit ProjectFileError(const QString &message);
    [[nodiscard]] const QString &message() const { return m_message; }

private:
    QString m_message;
};

// The project as one compact line of JSON: tasks, dependencies and name, each task with its
// duration, start, id, name and, when set, its exclusion group. Throws ProjectFileError when a
// task holds a number that is not finite, which JSON cannot carry.
[[nodiscard]] QByteArray writeProject(const Project &project);

// The read was stopped by its progress callback.
class ProjectReadCancelled : public std::runtime_error {
public:
    ProjectReadCancelled();
};

// A new project from a file's bytes. Any member order and any JSON spelling of the same values
// is accepted; the first missing, mistyped or repeated member fails the whole read with
// ProjectFileError. Dependencies the stored times contradict are dropped into the project's
// deletedEdges. Raises the task id counter past every id read. progress, when given, is told
// now and then how many bytes are parsed of how many; when it returns false the read stops
// with ProjectReadCancelled.
[[nodiscard]] std::unique_ptr<Project> readProject(
    const QByteArray &bytes, const std::function<bool(qint64 done, qint64 total)> &progress = {});
