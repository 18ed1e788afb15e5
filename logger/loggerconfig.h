#pragma once
// The logger's configuration: one INI file (read through QSettings) and the command line. Every
// key of the file has a command-line option of the same meaning, and an option given on the
// command line wins over the key. Every value is checked; a refused value is an error that
// names the key and its line (or the option), never a silent fall back to a default.
//
//   [link]     port, baud, tcp, framing, addresses
//   [record]   folder, format, max-size-mb
//   [mqtt]     host, base, ha-prefix, client-id, username, password-file, password, ca-file,
//              cert-file, key-file
//   [periods]  round-ms, data-s, pack-s
//   [log]      verbose
//
// The MQTT password never comes from the command line: from password-file, from the
// environment (VADUZ_MQTT_PASSWORD), or from the configuration file when no other user can
// read that file.

#include "linksession.h"
#include "loggerround.h"
#include "mqttlink.h"
#include "pagerecorder.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

class QCommandLineParser;

struct LoggerConfig {
    LinkOptions link;
    QVector<int> addresses{1};
    QString recordFolder;                      // empty: no files
    RecordFormat recordFormat = RecordFormat::Comma;
    qint64 maxFileBytes = 64ll * 1024 * 1024; // a day's file is continued in a new part beyond it
    bool mqttOn = false;
    MqttSettings mqtt;
    QString mqttBase = QStringLiteral("vaduz");
    QString haPrefix = QStringLiteral("homeassistant");
    LoggerPeriods periods;
    bool verbose = false;
};

class LoggerOptions {
public:
    LoggerOptions();
    // Every option, for a parser (and its help text).
    void addTo(QCommandLineParser &parser) const;
    const QCommandLineOption &configOption() const { return m_config; }
    const QCommandLineOption &checkOption() const { return m_check; }

    // The configuration from the file the parser names (--config, if any) with the parser's
    // options on top; false with every problem found, one line each, in *problems.
    bool read(const QCommandLineParser &parser, LoggerConfig *out, QStringList *problems) const;

private:
    QList<QCommandLineOption> m_options;
    QCommandLineOption m_config;
    QCommandLineOption m_check;
};
