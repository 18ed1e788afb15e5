#include "writeerror.h"

#include <QFileDevice>

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
