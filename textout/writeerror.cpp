#include "writeerror.h"

#include <QFileDevice>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

QString writeErrorReason(const QFileDevice &file) {
    const int systemError = errno;
    const bool qtKnows =
        file.error() != QFileDevice::NoError && file.error() != QFileDevice::UnspecifiedError &&
        file.errorString() != QLatin1String("Unknown error") && !file.errorString().isEmpty();
    if (qtKnows || systemError == 0)
        return file.errorString();
    return QString::fromLocal8Bit(std::strerror(systemError));
}

bool commitSaveFile(QSaveFile &file, QString *error) {
    if (!file.flush()) {
        *error = writeErrorReason(file);
        file.cancelWriting();
        file.commit(); // removes the temporary file; the target stays as it was
        return false;
    }
    if (!file.commit()) {
        *error = writeErrorReason(file);
        return false;
    }
    return true;
}
