// Feeds arbitrary bytes to the project reader. Besides crashes and sanitizer reports, it checks
// that every file the reader accepts survives a save and a second read unchanged.

#include "ProjectFile.h"

#include "Project.h"

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Load repair logs every pair that names a missing task; that would drown the fuzzer's output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    std::unique_ptr<Project> project;
    try {
        project = readProject(bytes);
    } catch (const ProjectFileError &error) {
        if (error.message().isEmpty()) {
            std::fputs("read failed without a message\n", stderr);
            std::abort();
        }
        return 0;
    }
    const QByteArray saved = writeProject(*project);
    const QByteArray again = writeProject(*readProject(saved));
    if (again != saved) {
        std::fprintf(stderr, "saved file changed on a second read:\n%s\n%s\n", saved.constData(), again.constData());
        std::abort();
    }
    return 0;
}
