#include "linkmonitorwindow.h"

#include "battertstackthread.h"
#include "linkmonitor.h"
#include "safetext.h"
#include "writeerror.h"

#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kPollMs = 250;
}

LinkMonitorWindow::LinkMonitorWindow(Battert_Stack_Thread *worker, QWidget *parent)
    : QWidget(parent, Qt::Window), m_worker(worker) {
    setWindowTitle(QStringLiteral("Link monitor"));
    setObjectName(QStringLiteral("linkMonitorWindow"));
    resize(980, 520);

    m_counters = new QLabel(this);
    m_counters->setObjectName(QStringLiteral("linkCounters"));
    m_counters->setWordWrap(true);
    m_counters->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_view = new QPlainTextEdit(this);
    m_view->setObjectName(QStringLiteral("linkFrames"));
    m_view->setReadOnly(true);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setMaximumBlockCount(LinkMonitorLog::kCapacity);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_pause = new QPushButton(tr("Pause"), this);
    m_pause->setObjectName(QStringLiteral("linkPause"));
    auto *clearButton = new QPushButton(tr("Clear"), this);
    clearButton->setObjectName(QStringLiteral("linkClear"));
    auto *saveButton = new QPushButton(tr("Save as text..."), this);
    saveButton->setObjectName(QStringLiteral("linkSave"));
    connect(m_pause, &QPushButton::clicked, this, [this] { setPaused(!m_paused); });
    connect(clearButton, &QPushButton::clicked, this, &LinkMonitorWindow::clear);
    connect(saveButton, &QPushButton::clicked, this, &LinkMonitorWindow::saveAs);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_pause);
    buttons->addWidget(clearButton);
    buttons->addWidget(saveButton);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_counters);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &LinkMonitorWindow::poll);
}

LinkMonitorWindow::~LinkMonitorWindow() {
    linkMonitor().setEnabled(false);
}

void LinkMonitorWindow::showEvent(QShowEvent *event) {
    linkMonitor().setEnabled(true);
    m_timer->start(kPollMs);
    poll();
    QWidget::showEvent(event);
}

void LinkMonitorWindow::hideEvent(QHideEvent *event) {
    // Closed, the monitor costs the link nothing: nothing is recorded.
    linkMonitor().setEnabled(false);
    m_timer->stop();
    QWidget::hideEvent(event);
}

void LinkMonitorWindow::setPaused(bool paused) {
    m_paused = paused;
    m_pause->setText(paused ? tr("Resume") : tr("Pause"));
}

void LinkMonitorWindow::clear() {
    linkMonitor().clear();
    m_view->clear();
}

void LinkMonitorWindow::poll() {
    m_counters->setText(countersText());
    // Paused, the view stands still; the ring keeps recording and what it still holds shows on
    // resume.
    if (m_paused)
        return;
    const QVector<MonitorEvent> events = linkMonitor().takeSince(&m_seq);
    if (events.isEmpty())
        return;
    QStringList lines;
    lines.reserve(events.size());
    for (const MonitorEvent &e : events)
        lines << formatMonitorLine(e);
    m_view->appendPlainText(lines.join(QLatin1Char('\n')));
}

QString LinkMonitorWindow::countersText() const {
    if (!m_worker)
        return QString();
    const LinkStats s = m_worker->stats();
    const auto ms = [](quint64 us) { return QString::number(us / 1000.0, 'f', 1); };
    // With more than one controller asked (the Bus window's round), a line for each.
    QString perAddress;
    const std::map<uint8_t, LinkStats> byAddress = m_worker->statsByAddress();
    if (byAddress.size() > 1)
        for (const auto &a : byAddress)
            perAddress += tr("\nAddress %1: asked %2, answered %3, no answer %4, bad CRC %5, "
                             "exceptions %6, wrong answers %7")
                              .arg(a.first)
                              .arg(a.second.requestsSent)
                              .arg(a.second.answered)
                              .arg(a.second.noAnswer)
                              .arg(a.second.badCrc)
                              .arg(a.second.exceptions)
                              .arg(a.second.wrongAnswers);
    const QString mean = s.answered ? ms(s.rttTotalMicros / s.answered) : QStringLiteral("-");
    return tr("Requests %1   Answered %2   Wrong answer %6   No answer %3   Cut short %15\n"
              "Errors: bad CRC %4, exceptions %5, bytes skipped %7, late bytes "
              "dropped %8, echo bytes %9, second frames %16, short answers %17\n"
              "Round trip: last %10 ms, mean %11 ms, max %12 ms   Port opens %13, losses %14")
        .arg(s.requestsSent)
        .arg(s.answered)
        .arg(s.noAnswer)
        .arg(s.badCrc)
        .arg(s.exceptions)
        .arg(s.wrongAnswers)
        .arg(s.skippedBytes)
        .arg(s.lateBytes)
        .arg(s.echoBytes)
        .arg(ms(s.rttLastMicros), mean, ms(s.rttMaxMicros))
        .arg(s.portOpens)
        .arg(s.portLosses)
        .arg(s.cutShort)
        .arg(s.secondFrames)
        .arg(s.shortAnswers) +
           perAddress;
}

bool LinkMonitorWindow::saveTo(const QString &path, QString *error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    // Opened in a spreadsheet, each line is a cell: none may start a formula.
    QStringList lines =
        (countersText() + QLatin1String("\n\n") + m_view->toPlainText()).split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = safeCsvCell(line);
    const QByteArray text = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (file.write(text) != text.size()) {
        *error = writeErrorReason(file);
        return false;
    }
    return commitSaveFile(file, error);
}

void LinkMonitorWindow::saveAs() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save the link monitor"),
                                     QStringLiteral("link-monitor.txt"), tr("Text files (*.txt)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveTo(path, &error))
        QMessageBox::warning(this, tr("tips"), tr("Could not save %1: %2").arg(path, error));
}
