#include "trendwindow.h"

#include "trendcsv.h"
#include "trendmodel.h"
#include "writeerror.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <QDateTime>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>


namespace {

constexpr int kReplotMs = 1000;
constexpr int kBuckets = 1500;

// The chart's view of a window that can be panned with the right mouse button.
class PanningChartView : public QChartView {
public:
    using QChartView::QChartView;
    bool *zoomed = nullptr;

protected:
    void mousePressEvent(QMouseEvent *e) override {
        if (e->button() == Qt::RightButton) {
            m_last = e->pos();
            m_panning = true;
            return;
        }
        QChartView::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent *e) override {
        if (m_panning) {
            const QPoint d = e->pos() - m_last;
            chart()->scroll(-d.x(), 0);
            m_last = e->pos();
            if (zoomed)
                *zoomed = true;
            return;
        }
        QChartView::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent *e) override {
        if (m_panning && e->button() == Qt::RightButton) {
            m_panning = false;
            return;
        }
        QChartView::mouseReleaseEvent(e);
        if (zoomed)
            *zoomed = true;
    }
    void wheelEvent(QWheelEvent *e) override {
        chart()->zoom(e->angleDelta().y() > 0 ? 1.25 : 0.8);
        if (zoomed)
            *zoomed = true;
    }

private:
    QPoint m_last;
    bool m_panning = false;
};

} // namespace

TrendWindow::TrendWindow(TrendModel *live, QWidget *parent)
    : QWidget(parent, Qt::Window), m_live(live) {
    setWindowTitle(tr("Trends"));
    setObjectName(QStringLiteral("trendWindow"));
    resize(1200, 640);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("hh:mm:ss"));
    m_timeAxis->setTitleText(tr("Local time"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);

    auto *view = new PanningChartView(m_chart, this);
    view->zoomed = &m_zoomed;
    view->setRubberBand(QChartView::HorizontalRubberBand);
    view->setRenderHint(QPainter::Antialiasing, false);
    m_view = view;

    m_fields = new QListWidget(this);
    m_fields->setObjectName(QStringLiteral("trendFields"));
    m_fields->setMaximumWidth(260);
    connect(m_fields, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        if (shownModel() == m_live)
            m_live->track(item->data(Qt::UserRole).toString(), item->checkState() == Qt::Checked);
        replot();
    });

    m_source = new QLabel(this);
    auto *fitButton = new QPushButton(tr("Fit"), this);
    auto *liveButton = new QPushButton(tr("Live"), this);
    auto *openButton = new QPushButton(tr("Open CSV..."), this);
    auto *pngButton = new QPushButton(tr("Export PNG..."), this);
    connect(fitButton, &QPushButton::clicked, this, &TrendWindow::fit);
    connect(liveButton, &QPushButton::clicked, this, &TrendWindow::showLive);
    connect(openButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open a recording"), QString(),
                                                          tr("Recordings (*.csv)"));
        QString error;
        // Cancelled, there is nothing to say.
        if (!path.isEmpty() && !openCsv(path, &error) && !error.isEmpty())
            QMessageBox::warning(this, tr("tips"), tr("%1 cannot be plotted: %2").arg(path, error));
    });
    connect(pngButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Export PNG"),
                                                          QStringLiteral("trends.png"),
                                                          tr("PNG images (*.png)"));
        QString error;
        if (!path.isEmpty() && !savePng(path, &error))
            QMessageBox::warning(this, tr("tips"),
                                 tr("%1 could not be written: %2").arg(path, error));
    });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_source, 1);
    for (QPushButton *b : {fitButton, liveButton, openButton, pngButton})
        buttons->addWidget(b);
    auto *top = new QHBoxLayout;
    top->addWidget(m_fields);
    top->addWidget(m_view, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &TrendWindow::replot);
    fillFieldList();
}

TrendWindow::~TrendWindow() = default;

const TrendModel *TrendWindow::shownModel() const {
    return m_file ? m_file.get() : m_live;
}

void TrendWindow::fillFieldList() {
    const QSignalBlocker block(m_fields);
    // Whatever was plotted is made again for the fields of the new list.
    m_plotted = QStringList{QStringLiteral("\x01")};
    m_fields->clear();
    const TrendModel *model = shownModel();
    QVector<TrendModel::Field> fields;
    if (m_file) {
        for (const QString &f : m_fileColumns)
            if (m_file->isTracked(f))
                fields.append({f, f});
    } else {
        // The key values first, then the rest of the page in form order.
        const QVector<TrendModel::Field> all = TrendModel::homeFields();
        for (const QString &key : TrendModel::defaultFields())
            for (const TrendModel::Field &f : all)
                if (f.name == key)
                    fields.append(f);
        for (const TrendModel::Field &f : all)
            if (!TrendModel::defaultFields().contains(f.name))
                fields.append(f);
    }
    // A recording's key values are the live view's, found by their captions.
    QStringList keyCaptions;
    for (const QString &key : TrendModel::defaultFields())
        keyCaptions << m_live->captionOf(key).simplified().toCaseFolded();
    for (const TrendModel::Field &f : fields) {
        auto *item = new QListWidgetItem(f.caption, m_fields);
        item->setData(Qt::UserRole, f.name);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool on = m_file ? keyCaptions.contains(f.caption.simplified().toCaseFolded())
                               : model->isTracked(f.name);
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    m_source->setText(m_file ? tr("Recording: %1 samples").arg(m_file->size())
                             : tr("Live: the Home page's values, the last 24 hours"));
}

void TrendWindow::replot() {
    const TrendModel *model = shownModel();
    // The series and their scales are made again only when the fields picked change; otherwise
    // each gets its new points.
    QStringList picked;
    for (int row = 0; row < m_fields->count(); ++row)
        if (m_fields->item(row)->checkState() == Qt::Checked)
            picked << m_fields->item(row)->data(Qt::UserRole).toString();
    const bool rebuild = picked != m_plotted;
    if (rebuild) {
        m_chart->removeAllSeries();
        for (QAbstractAxis *axis : m_chart->axes(Qt::Vertical)) {
            m_chart->removeAxis(axis);
            delete axis;
        }
        // Added again with the new series: an axis the chart laid out while it had no series
        // keeps no room for its labels.
        m_chart->removeAxis(m_timeAxis);
        m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
        m_plotted = picked;
    }
    const QList<QAbstractSeries *> existing = m_chart->series();
    int index = 0;
    const int n = model->size();
    // The time range plotted: all of it, or what the operator zoomed or panned to.
    qint64 from = model->firstTime();
    qint64 to = model->lastTime();
    if (m_zoomed) {
        from = m_timeAxis->min().toMSecsSinceEpoch();
        to = m_timeAxis->max().toMSecsSinceEpoch();
    }
    bool first = true;
    for (int row = 0; row < m_fields->count(); ++row) {
        QListWidgetItem *item = m_fields->item(row);
        if (item->checkState() != Qt::Checked)
            continue;
        const QString field = item->data(Qt::UserRole).toString();
        // A day holds 86 400 samples a series: far more than the plot has pixels. Each of a
        // fixed number of time buckets over the range shown keeps its lowest and highest value,
        // so peaks stay visible and a replot costs the same at any length.
        QVector<QPointF> points;
        points.reserve(2 * kBuckets + 2);
        double lo = INFINITY, hi = -INFINITY;
        const double span = std::max<double>(1.0, double(to - from));
        int bucket = -1;
        QPointF bucketLo, bucketHi;
        auto flush = [&] {
            if (bucket < 0)
                return;
            if (bucketLo.x() <= bucketHi.x()) {
                points.append(bucketLo);
                if (bucketHi != bucketLo)
                    points.append(bucketHi);
            } else {
                points.append(bucketHi);
                points.append(bucketLo);
            }
        };
        const std::deque<float> *values = model->values(field);
        for (int i = 0; values && i < n && i < int(values->size()); ++i) {
            const qint64 t = model->time(i);
            const double v = (*values)[size_t(i)];
            if (std::isnan(v))
                continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            if (t < from || t > to)
                continue;
            const int b = std::min(kBuckets - 1, int(double(t - from) / span * kBuckets));
            const QPointF p(double(t), v);
            if (b != bucket) {
                flush();
                bucket = b;
                bucketLo = bucketHi = p;
            } else if (v < bucketLo.y()) {
                bucketLo = p;
            } else if (v > bucketHi.y()) {
                bucketHi = p;
            }
        }
        flush();
        QLineSeries *series = rebuild ? new QLineSeries
                                      : static_cast<QLineSeries *>(existing.value(index));
        ++index;
        if (!series)
            continue;
        const QString name = points.isEmpty()
                                 ? item->text()
                                 : QStringLiteral("%1 [%2 .. %3]").arg(item->text()).arg(lo).arg(hi);
        if (series->name() != name)
            series->setName(name);
        series->replace(points);
        QValueAxis *axis = nullptr;
        if (rebuild) {
            m_chart->addSeries(series);
            series->attachAxis(m_timeAxis);
            // Each value on its own scale, so that a voltage of 2500 and a SOC of 60 both fill
            // the plot; the first one's scale is drawn, the legend gives every range.
            axis = new QValueAxis;
            axis->setVisible(first);
            axis->setTitleText(first ? item->text() : QString());
            m_chart->addAxis(axis, Qt::AlignLeft);
            series->attachAxis(axis);
        } else {
            for (QAbstractAxis *a : series->attachedAxes())
                if (a->orientation() == Qt::Vertical)
                    axis = static_cast<QValueAxis *>(a);
        }
        if (axis && !points.isEmpty()) {
            const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::fabs(hi) * 0.05);
            axis->setRange(lo - pad, hi + pad);
        }
        first = false;
    }
    if (!m_zoomed)
        fit();
}

void TrendWindow::fit() {
    const TrendModel *model = shownModel();
    m_zoomed = false;
    if (model->size() == 0)
        return;
    const qint64 from = model->firstTime();
    const qint64 to = std::max(model->lastTime(), from + 1000);
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    // Spans over a day show the date too.
    m_timeAxis->setFormat(to - from > 20 * 3600 * 1000LL ? QStringLiteral("MM-dd hh:mm")
                                                         : QStringLiteral("hh:mm:ss"));
}

bool TrendWindow::openCsv(const QString &path, QString *error) {
    // Read on a thread of its own: the window keeps painting, and a long file can be cancelled.
    TrendCsv csv;
    TrendCsvProgress progress;
    TrendCsvResult result = TrendCsvResult::Cancelled;
    std::unique_ptr<QThread> reader(QThread::create(
        [&] { result = readTrendCsvFile(path, TrendCsvLimits(), &csv, error, &progress); }));
    QProgressDialog dialog(tr("Reading %1 ...").arg(QFileInfo(path).fileName()), tr("Cancel"), 0,
                           1000, this);
    dialog.setObjectName(QStringLiteral("trendCsvProgress"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(300);
    dialog.setAutoReset(false);
    connect(&dialog, &QProgressDialog::canceled, this, [&progress] { progress.cancel = true; });
    QTimer look;
    connect(&look, &QTimer::timeout, &dialog,
            [&] { dialog.setValue(std::min(999, progress.permille.load())); });
    QEventLoop loop;
    connect(reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
    reader->start();
    look.start(100);
    loop.exec();
    // The loop also ends when the program quits: the reader stops at its next look.
    progress.cancel = true;
    reader->wait();
    if (result == TrendCsvResult::Cancelled) {
        error->clear();
        return false;
    }
    if (result != TrendCsvResult::Loaded)
        return false;
    m_fileColumns = csv.captions;
    auto file = std::make_unique<TrendModel>();
    file->loadRecording(std::move(csv));
    m_file = std::move(file);
    m_zoomed = false;
    fillFieldList();
    replot();
    return true;
}

void TrendWindow::showLive() {
    m_file.reset();
    m_zoomed = false;
    fillFieldList();
    replot();
}

bool TrendWindow::savePng(const QString &path, QString *error) {
    QSaveFile file(path);
    QString reason;
    bool ok = false;
    if (!file.open(QIODevice::WriteOnly))
        reason = file.errorString();
    else if (!m_view->grab().save(&file, "PNG"))
        reason = writeErrorReason(file);
    else
        ok = commitSaveFile(file, &reason);
    if (error)
        *error = reason;
    return ok;
}

void TrendWindow::showEvent(QShowEvent *event) {
    replot();
    m_timer->start(kReplotMs);
    QWidget::showEvent(event);
}

void TrendWindow::hideEvent(QHideEvent *event) {
    m_timer->stop();
    QWidget::hideEvent(event);
}

void TrendWindow::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Left:
        m_chart->scroll(-m_chart->plotArea().width() / 10, 0);
        m_zoomed = true;
        return;
    case Qt::Key_Right:
        m_chart->scroll(m_chart->plotArea().width() / 10, 0);
        m_zoomed = true;
        return;
    case Qt::Key_Plus:
        m_chart->zoom(1.25);
        m_zoomed = true;
        return;
    case Qt::Key_Minus:
        m_chart->zoom(0.8);
        m_zoomed = true;
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
