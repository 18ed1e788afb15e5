#pragma once
// What the process benchmarks share: the program entry's application set-up, and the
// process's resident memory.

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QFont>

// As the program's entry sets up the application, before it is made.
inline void setUpAsTheProgram() {
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QFont font(QStringLiteral("Calibri"));
    font.setPixelSize(12);
    QApplication::setFont(font);
}

// VmRSS of this process in kB; -1 where /proc is not there.
inline long rssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
