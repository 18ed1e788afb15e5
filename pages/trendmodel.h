#pragma once
// Trends of the Home page's values over time: samples taken from the page passes (values as
// shown, the leading number of each field's text), kept for the last 24 hours. Default series
// are the stack's key values; other fields of the page are tracked from the moment they are
// picked. A recorded CSV file can be loaded into a model of its own.

#include <QString>
#include <QStringList>
#include <QVector>

#include <deque>
#include <map>

class QWidget;

// One CSV line split into cells (quoted cells may hold commas and doubled quotes).
QStringList splitCsv(const QString &line);

class TrendModel {
public:
    static constexpr qint64 kSpanMs = 24LL * 3600 * 1000;

    // A Home field that can be plotted: its object name and its caption with unit.
    struct Field {
        QString name;
        QString caption;
    };
    // The Home page's numeric read fields, in form order.
    static QVector<Field> homeFields();
    // SOC, total voltage, total current, highest and lowest cell voltage, highest and lowest
    // temperature.
    static QStringList defaultFields();

    TrendModel();

    void track(const QString &field, bool on);
    bool isTracked(const QString &field) const;
    QStringList tracked() const;

    // One sample at ms (local wall clock, ms since the epoch): each tracked field's number
    // from texts (field name -> text shown); samples older than 24 hours before it go.
    void addSample(qint64 ms, const std::map<QString, QString> &texts);
    // Takes a sample of the Home fields shown on window.
    void sampleWindow(QWidget *window, qint64 ms);

    int size() const { return static_cast<int>(m_times.size()); }
    qint64 firstTime() const { return m_times.empty() ? 0 : m_times.front(); }
    qint64 lastTime() const { return m_times.empty() ? 0 : m_times.back(); }
    qint64 time(int i) const { return m_times[static_cast<size_t>(i)]; }
    // The field's value at sample i; NaN where it was not tracked or not a number.
    double value(const QString &field, int i) const;
    // All of a tracked field's samples (nullptr when it is not tracked), NaN where none.
    const std::deque<float> *values(const QString &field) const;

    // Loads a recorded CSV file (first column the time, one column per field, headed by
    // caption); every numeric column is tracked, keyed by its header. False with *error.
    bool loadCsv(const QString &path, QString *error);
    QString captionOf(const QString &field) const;

    // The leading number of a shown text ("3.329/1-14" -> 3.329); NaN when there is none.
    static double leadingNumber(const QString &text);

private:
    std::deque<qint64> m_times;
    std::map<QString, std::deque<float>> m_values;
    std::map<QString, QString> m_captions;
};
