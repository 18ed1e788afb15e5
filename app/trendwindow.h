#pragma once
// The "Trends" window: the Home page's values over time, from the page passes (the last 24 hours)
// or from a recorded CSV file. Zoom with a rubber band or the wheel, pan with the arrow keys or
// by dragging with the right button, "Fit" shows everything; the chart can be saved as PNG.

#include <QHash>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <memory>

#include <QtCharts/qchartglobal.h>

class TrendModel;
class QListWidget;
class QLabel;
class QTimer;
// Qt 5 keeps the chart classes in a namespace of their own; Qt 6 does not.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE
QT_CHARTS_USE_NAMESPACE
#else
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
#endif

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    // live: the model the window follows (owned by the main window).
    explicit TrendWindow(TrendModel *live, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // Redraws the series from the model shown.
    void replot();
    // Opens a recorded CSV file in place of the live values, read on a thread of its own with a
    // progress box and Cancel; false with *error (empty when cancelled).
    bool openCsv(const QString &path, QString *error);
    // Back to the live values.
    void showLive();
    // Saves the chart; a name without an extension gets ".png". False with the system's reason in
    // *error when it cannot be written.
    bool savePng(const QString &path, QString *error = nullptr);
    // The read-out under the pointer at ms: the time, then each plotted value ("-" where
    // nothing was measured).
    QString readoutAt(qint64 ms) const;

    QChart *chart() const { return m_chart; }
    QDateTimeAxis *timeAxis() const { return m_timeAxis; }
    const TrendModel *shownModel() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fillFieldList();
    void fit();

    TrendModel *m_live;
    std::unique_ptr<TrendModel> m_file; // a recorded file, when one is open
    QStringList m_fileColumns;          // its numeric columns, in the file's order
    QChart *m_chart = nullptr;
    QChartView *m_view = nullptr;
    QDateTimeAxis *m_timeAxis = nullptr;
    QListWidget *m_fields = nullptr;
    QLabel *m_source = nullptr;
    QLabel *m_readout = nullptr;
    QTimer *m_timer = nullptr;
    bool m_zoomed = false; // the operator zoomed or panned: keep the view
    QStringList m_plotted;  // the fields whose series are on the chart, in order
    QHash<QString, QVector<QLineSeries *>> m_series; // a field's runs of joined samples
    QHash<QString, QValueAxis *> m_axes;             // a field's value scale
    QHash<QString, QString> m_captions;              // a field's caption, as listed
};
