#include "loggerconfig.h"

#include "busround.h"
#include "serialsettings.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {

struct KeyDef {
    const char *option; // command-line option, without "--"
    const char *key;    // section/key in the file
    const char *valueName;
    const char *help;
};

// Every key of the file, with its option. The link options come from LinkOptionSet.
const KeyDef kKeys[] = {
    {"port", "link/port", nullptr, nullptr},
    {"baud", "link/baud", nullptr, nullptr},
    {"tcp", "link/tcp", nullptr, nullptr},
    {"framing", "link/framing", nullptr, nullptr},
    {"addresses", "link/addresses", "list",
     "Controllers to log: 1-4, 1,3,5-7 (addresses 1 to 247; default 1)."},
    {"record", "record/folder", "folder",
     "Write CSV files into folder: <folder>/<address>/home-<date>.csv and events-<date>.csv."},
    {"record-format", "record/format", "comma|semicolon",
     "CSV format: comma (decimal point, the default) or semicolon (decimal comma)."},
    {"max-file-size", "record/max-size-mb", "MB",
     "A day's file beyond this size is continued in a new part (default 64)."},
    {"mqtt", "mqtt/host", "host[:port]", "Publish to this MQTT broker (port 1883 when not given)."},
    {"mqtt-base", "mqtt/base", "topic", "Topic under which state and events go (default vaduz)."},
    {"ha-prefix", "mqtt/ha-prefix", "topic",
     "Home Assistant discovery prefix (default homeassistant)."},
    {"mqtt-client-id", "mqtt/client-id", "id", "MQTT client id (default: one the library picks)."},
    {"mqtt-user", "mqtt/username", "name", "MQTT user name."},
    {"mqtt-password-file", "mqtt/password-file", "file",
     "Read the MQTT password from the first line of file (only its owner may read it)."},
    {"mqtt-ca", "mqtt/ca-file", "file", "Connect with TLS, trusting the CA certificate in file."},
    {"mqtt-cert", "mqtt/cert-file", "file", "Client certificate for TLS (with --mqtt-key)."},
    {"mqtt-key", "mqtt/key-file", "file", "Private key of the client certificate."},
    {"round-ms", "periods/round-ms", "ms",
     "A round over every controller (Home record and alarms) at most this often (default 1000)."},
    {"data-period", "periods/data-s", "s", "Data blocks of each controller every s seconds (default 30)."},
    {"pack-period", "periods/pack-s", "s", "Pack blocks of each controller every s seconds (default 300)."},
    {"verbose", "log/verbose", nullptr, "Log every frame and every round (true/false in the file)."},
};
const char kPasswordKey[] = "mqtt/password";
const char kPasswordEnv[] = "VADUZ_MQTT_PASSWORD";

const KeyDef *keyByName(const QString &key) {
    for (const KeyDef &k : kKeys)
        if (key == QLatin1String(k.key))
            return &k;
    return nullptr;
}

bool isFlag(const KeyDef &k) { return qstrcmp(k.option, "verbose") == 0; }

// Readable by anyone but its owner.
bool othersCanRead(const QString &path) {
    const QFile::Permissions p = QFileInfo(path).permissions();
    return p & (QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

bool readableFile(const QString &path, QString *why) {
    const QFileInfo info(path);
    if (!info.exists())
        *why = QStringLiteral("%1 does not exist").arg(path);
    else if (!info.isFile())
        *why = QStringLiteral("%1 is not a file").arg(path);
    else if (!info.isReadable())
        *why = QStringLiteral("%1 cannot be read").arg(path);
    else
        return true;
    return false;
}

bool topicPrefix(const QString &text) {
    return !text.isEmpty() && !text.contains(QLatin1Char('+')) &&
           !text.contains(QLatin1Char('#')) && !text.startsWith(QLatin1Char('/')) &&
           !text.endsWith(QLatin1Char('/'));
}

bool wholeNumber(const QString &text, int low, int high, int *out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *out = v;
    return true;
}

// What the parser's options say, on top of *cfg; problems are added to *problems (each naming
// its option).
void apply(const QCommandLineParser &parser, LoggerConfig *cfg, QStringList *problems) {
    LinkOptions link;
    QString error;
    if (LinkOptionSet(0).read(parser, &link, &error))
        cfg->link = link;
    else
        *problems << error;
    auto set = [&](const char *option) { return parser.isSet(QLatin1String(option)); };
    auto value = [&](const char *option) { return parser.value(QLatin1String(option)); };
    if (set("addresses") && !parseBusAddresses(value("addresses"), &cfg->addresses))
        *problems << QStringLiteral("--addresses takes addresses 1 to 247 such as 1-4 or 1,3,5-7, "
                                    "not '%1'")
                         .arg(value("addresses"));
    if (set("record")) {
        cfg->recordFolder = value("record").trimmed();
        if (cfg->recordFolder.isEmpty())
            *problems << QStringLiteral("--record needs a folder");
    }
    if (set("record-format") && !parseRecordFormat(value("record-format"), &cfg->recordFormat))
        *problems << QStringLiteral("--record-format takes comma or semicolon, not '%1'")
                         .arg(value("record-format"));
    int n = 0;
    if (set("max-file-size")) {
        if (wholeNumber(value("max-file-size"), 1, 65536, &n))
            cfg->maxFileBytes = qint64(n) * 1024 * 1024;
        else
            *problems << QStringLiteral("--max-file-size takes megabytes from 1 to 65536, not '%1'")
                             .arg(value("max-file-size"));
    }
    if (set("mqtt")) {
        const QString text = value("mqtt").trimmed();
        uint16_t port = 0;
        QString host;
        if (parseHostPort(text, &host, &port)) {
            cfg->mqttOn = true;
            cfg->mqtt.host = host;
            cfg->mqtt.port = QRegularExpression(QStringLiteral(":\\d+$")).match(text).hasMatch()
                                 ? port
                                 : 1883;
        } else {
            *problems << QStringLiteral("--mqtt takes HOST or HOST:PORT (port 1 to 65535), not '%1'")
                             .arg(text);
        }
    }
    for (const char *option : {"mqtt-base", "ha-prefix"})
        if (set(option)) {
            const QString text = value(option).trimmed();
            if (!topicPrefix(text))
                *problems << QStringLiteral("--%1 takes a topic without +, # or a leading or "
                                            "trailing /, not '%2'")
                                 .arg(QLatin1String(option), text);
            else if (qstrcmp(option, "mqtt-base") == 0)
                cfg->mqttBase = text;
            else
                cfg->haPrefix = text;
        }
    if (set("mqtt-client-id"))
        cfg->mqtt.clientId = value("mqtt-client-id").trimmed();
    if (set("mqtt-user"))
        cfg->mqtt.username = value("mqtt-user").trimmed();
    if (set("mqtt-password-file")) {
        const QString path = value("mqtt-password-file");
        QFile file(path);
        if (!readableFile(path, &error))
            *problems << QStringLiteral("--mqtt-password-file: %1").arg(error);
        else if (othersCanRead(path))
            *problems << QStringLiteral("--mqtt-password-file: other users can read %1; make it "
                                        "readable by its owner only (chmod 600)")
                             .arg(path);
        else if (!file.open(QIODevice::ReadOnly))
            *problems << QStringLiteral("--mqtt-password-file: %1").arg(file.errorString());
        else
            cfg->mqtt.password = file.readLine().trimmed();
    }
    const struct {
        const char *option;
        QString *target;
    } files[] = {{"mqtt-ca", &cfg->mqtt.caFile},
                 {"mqtt-cert", &cfg->mqtt.certFile},
                 {"mqtt-key", &cfg->mqtt.keyFile}};
    for (const auto &f : files)
        if (set(f.option)) {
            if (readableFile(value(f.option), &error))
                *f.target = value(f.option);
            else
                *problems << QStringLiteral("--%1: %2").arg(QLatin1String(f.option), error);
        }
    const struct {
        const char *option;
        int low, high, scale;
        int *target;
    } periods[] = {{"round-ms", 100, 3600000, 1, &cfg->periods.roundMs},
                   {"data-period", 1, 86400, 1000, &cfg->periods.dataMs},
                   {"pack-period", 1, 86400, 1000, &cfg->periods.packMs}};
    for (const auto &p : periods)
        if (set(p.option)) {
            if (wholeNumber(value(p.option), p.low, p.high, &n))
                *p.target = n * p.scale;
            else
                *problems << QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'")
                                 .arg(QLatin1String(p.option))
                                 .arg(p.low)
                                 .arg(p.high)
                                 .arg(value(p.option));
        }
    if (set("verbose"))
        cfg->verbose = true;
}

// The checks of the whole: a link, something to do, TLS files that belong together.
void checkWhole(const LoggerConfig &cfg, QStringList *problems) {
    if (cfg.link.ports.isEmpty() && !cfg.link.network())
        *problems << QStringLiteral("no link: give --port PATH or --tcp HOST[:PORT] (keys link/port, "
                                    "link/tcp)");
    if (cfg.recordFolder.isEmpty() && !cfg.mqttOn)
        *problems << QStringLiteral("nothing to do: give --record FOLDER or --mqtt HOST (keys "
                                    "record/folder, mqtt/host), or both");
    if (cfg.mqtt.certFile.isEmpty() != cfg.mqtt.keyFile.isEmpty())
        *problems << QStringLiteral("a client certificate needs its key and the key its "
                                    "certificate (--mqtt-cert and --mqtt-key)");
    if (!cfg.mqtt.certFile.isEmpty() && cfg.mqtt.caFile.isEmpty())
        *problems << QStringLiteral("a client certificate is used over TLS only: give --mqtt-ca too");
    if (!cfg.mqtt.password.isNull() && cfg.mqtt.username.isEmpty())
        *problems << QStringLiteral("a password is given without a user name (--mqtt-user)");
}

struct FileEntry {
    const KeyDef *def = nullptr;
    QString value;
    int line = 0;
};

// The file's keys with their lines; problems with a line number each.
bool readFile(const QString &path, QList<FileEntry> *entries, QByteArray *password,
              QStringList *problems) {
    QString why;
    if (!readableFile(path, &why)) {
        *problems << QStringLiteral("%1").arg(why);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problems << QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    // Lines first: where each key stands, and lines that are no INI at all.
    QMap<QString, int> lineOf;
    QString section;
    int lineNo = 0;
    const int before = problems->size();
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++lineNo;
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            *problems << QStringLiteral("%1 line %2: not a 'key = value' line: %3")
                             .arg(path)
                             .arg(lineNo)
                             .arg(line);
            continue;
        }
        const QString key = section + QLatin1Char('/') + line.left(eq).trimmed();
        if (key == QLatin1String(kPasswordKey)) {
            lineOf.insert(key, lineNo);
            continue;
        }
        if (!keyByName(key)) {
            *problems << QStringLiteral("%1 line %2: unknown key '%3'").arg(path).arg(lineNo).arg(key);
            continue;
        }
        if (lineOf.contains(key))
            *problems << QStringLiteral("%1 line %2: key '%3' given again (first on line %4)")
                             .arg(path)
                             .arg(lineNo)
                             .arg(key)
                             .arg(lineOf.value(key));
        lineOf.insert(key, lineNo);
    }
    // The values as QSettings reads them (quotes and escapes as INI has them).
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *problems << QStringLiteral("%1: not a readable INI file").arg(path);
        return false;
    }
    for (auto it = lineOf.cbegin(); it != lineOf.cend(); ++it) {
        const QVariant v = ini.value(it.key());
        // A value with commas ("1,3,5-7") comes back from QSettings as a list.
        const QString text = v.userType() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(','))
                                                              : v.toString();
        if (it.key() == QLatin1String(kPasswordKey)) {
            if (othersCanRead(path))
                *problems << QStringLiteral("%1 line %2: key '%3': other users can read this file, "
                                            "so it must not hold the password; make it readable "
                                            "by its owner only (chmod 600), or use "
                                            "mqtt/password-file or %4")
                                 .arg(path)
                                 .arg(it.value())
                                 .arg(it.key(), QLatin1String(kPasswordEnv));
            else
                *password = text.toUtf8();
            continue;
        }
        entries->append({keyByName(it.key()), text, it.value()});
    }
    return problems->size() == before;
}

} // namespace

LoggerOptions::LoggerOptions()
    : m_config(QStringLiteral("config"), QStringLiteral("Read the configuration from file (INI)."),
               QStringLiteral("file")),
      m_check(QStringLiteral("check-config"),
              QStringLiteral("Check the configuration and the options, say what is wrong, and exit.")) {
    m_options << LinkOptionSet(0).options();
    for (const KeyDef &k : kKeys) {
        if (!k.help)
            continue;
        if (isFlag(k))
            m_options << QCommandLineOption(QLatin1String(k.option), QLatin1String(k.help));
        else
            m_options << QCommandLineOption(QLatin1String(k.option), QLatin1String(k.help),
                                            QLatin1String(k.valueName));
    }
    m_options << m_config << m_check;
}

void LoggerOptions::addTo(QCommandLineParser &parser) const {
    for (const QCommandLineOption &o : m_options)
        parser.addOption(o);
}

bool LoggerOptions::read(const QCommandLineParser &parser, LoggerConfig *out,
                         QStringList *problems) const {
    LoggerConfig cfg;
    QList<FileEntry> entries;
    QByteArray filePassword;
    const QString path = parser.value(m_config);
    if (parser.isSet(m_config))
        readFile(path, &entries, &filePassword, problems);

    // Each key of the file alone, as if it were given as its option: a problem names the key
    // and its line.
    QStringList argv{QStringLiteral("vaduz-logger")};
    for (const FileEntry &e : entries) {
        const QString option = QStringLiteral("--") + QLatin1String(e.def->option);
        QStringList one{argv.first(), option};
        if (isFlag(*e.def)) {
            const QString v = e.value.trimmed().toLower();
            if (v != QLatin1String("true") && v != QLatin1String("false")) {
                *problems << QStringLiteral("%1 line %2: key '%3' takes true or false, not '%4'")
                                 .arg(path)
                                 .arg(e.line)
                                 .arg(QLatin1String(e.def->key), e.value);
                continue;
            }
            if (v == QLatin1String("false"))
                continue;
        } else {
            one << e.value;
        }
        QCommandLineParser single;
        addTo(single);
        QStringList found;
        LoggerConfig scratch;
        if (!single.parse(one))
            found << single.errorText();
        else
            apply(single, &scratch, &found);
        for (QString &f : found)
            *problems << QStringLiteral("%1 line %2: key '%3': %4")
                             .arg(path)
                             .arg(e.line)
                             .arg(QLatin1String(e.def->key), f);
        // The key counts unless the command line gives its option.
        if (found.isEmpty() && !parser.isSet(QLatin1String(e.def->option)))
            argv << one.mid(1);
    }
    // Then the command line's own options.
    for (const QCommandLineOption &o : m_options) {
        const QString name = o.names().first();
        if (o.names() == m_config.names() || o.names() == m_check.names() || !parser.isSet(name))
            continue;
        if (o.valueName().isEmpty()) {
            argv << QStringLiteral("--") + name;
            continue;
        }
        for (const QString &v : parser.values(name))
            argv << QStringLiteral("--") + name << v;
    }
    QCommandLineParser merged;
    addTo(merged);
    if (!merged.parse(argv))
        *problems << merged.errorText();
    else
        apply(merged, &cfg, problems);
    // The password file wins over a password in the configuration, which wins over the
    // environment.
    if (cfg.mqtt.password.isNull() && !filePassword.isNull())
        cfg.mqtt.password = filePassword;
    if (cfg.mqtt.password.isNull() && qEnvironmentVariableIsSet(kPasswordEnv))
        cfg.mqtt.password = qgetenv(kPasswordEnv);
    if (problems->isEmpty())
        checkWhole(cfg, problems);
    problems->removeDuplicates();
    *out = cfg;
    return problems->isEmpty();
}
