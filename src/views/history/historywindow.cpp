#include "views/history/historywindow.h"

#include "base/failure.h"
#include "model/historysource.h"
#include "model/recorder.h"
#include "storage/history/historyfile.h"
#include "storage/history/query.h"
#include "views/history/timeline.h"
#include "views/widgets/messenger.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <chrono>

namespace kestra::history {

using namespace std::chrono_literals;

namespace {
constexpr auto kHoursPeriod = 1s;
constexpr int kDaysShown = 7;

QDateEdit* dateEdit(const QString& name, const QDate& date, QWidget* parent)
{
    auto* e = new QDateEdit(date, parent);
    e->setObjectName(name);
    e->setCalendarPopup(true);
    e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    return e;
}

QPushButton* button(const QString& name, const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

QTableWidget* table(const QString& name, const QStringList& headers, QWidget* parent)
{
    auto* t = new QTableWidget(0, int(headers.size()), parent);
    t->setObjectName(name);
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void setCell(QTableWidget* t, int row, int column, const QString& text)
{
    if (auto* item = t->item(row, column)) {
        if (item->text() != text) item->setText(text);
        return;
    }
    t->setItem(row, column, new QTableWidgetItem(text));
}
} // namespace

HistoryWindow::HistoryWindow(Recorder& recorder, const Clock& clock, QWidget* owner)
    : HistoryWindow(*new RecorderHistory(recorder, nullptr), clock, owner)
{
    m_source.setParent(this);
}

HistoryWindow::HistoryWindow(HistorySource& source, const Clock& clock, QWidget* owner)
    : QWidget(owner, Qt::Window), m_source(source), m_clock(clock)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("History"));
    m_confirm = [this](const QString& text) {
        return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
    };
    const QDate today = m_clock.now().date();
    auto* top = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabHistory"));
    top->addWidget(tabs);

    // Records.
    auto* records = new QWidget(tabs);
    auto* rl = new QVBoxLayout(records);
    auto* filters = new QHBoxLayout;
    m_show = new QComboBox(records);
    m_show->setObjectName(QStringLiteral("cboShow"));
    m_show->addItem(QStringLiteral("All"));
    for (int m = 1; m <= 8; ++m)
        m_show->addItem(QStringLiteral("Output %1").arg(m));
    for (int n = 1; n <= 5; ++n)
        m_show->addItem(QStringLiteral("Input %1").arg(n));
    m_from = dateEdit(QStringLiteral("dtFrom"), today.addDays(1 - kDaysShown), records);
    m_to = dateEdit(QStringLiteral("dtTo"), today, records);
    filters->addWidget(new QLabel(QStringLiteral("Show"), records));
    filters->addWidget(m_show);
    filters->addWidget(new QLabel(QStringLiteral("from"), records));
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("to"), records));
    filters->addWidget(m_to);
    filters->addStretch();
    auto* refresh = button(QStringLiteral("cmdRefresh"), QStringLiteral("&Refresh"), records);
    auto* exportButton = button(QStringLiteral("cmdExport"), QStringLiteral("&Export CSV..."), records);
    filters->addWidget(refresh);
    filters->addWidget(exportButton);
    rl->addLayout(filters);
    m_records = table(QStringLiteral("tblRecords"),
                      {QStringLiteral("Time"), QStringLiteral("Line"), QStringLiteral("State"),
                       QStringLiteral("Cause"), QStringLiteral("Port byte")},
                      records);
    rl->addWidget(m_records);
    m_count = new QLabel(records);
    m_count->setObjectName(QStringLiteral("lblCount"));
    rl->addWidget(m_count);
    tabs->addTab(records, QStringLiteral("Records"));

    // One day.
    auto* day = new QWidget(tabs);
    auto* dl = new QVBoxLayout(day);
    auto* dayRow = new QHBoxLayout;
    m_day = dateEdit(QStringLiteral("dtDay"), today, day);
    dayRow->addWidget(new QLabel(QStringLiteral("Day"), day));
    dayRow->addWidget(m_day);
    dayRow->addStretch();
    dl->addLayout(dayRow);
    m_timeline = new Timeline(day);
    dl->addWidget(m_timeline);
    auto* legend =
        new QLabel(QStringLiteral("Red: ON. Green: OFF. Blank: not recorded (before the history began, "
                                  "or still to come)."),
                   day);
    legend->setWordWrap(true);
    dl->addWidget(legend);
    dl->addStretch();
    tabs->addTab(day, QStringLiteral("Day"));

    // Operating hours.
    auto* hours = new QWidget(tabs);
    auto* hl = new QVBoxLayout(hours);
    m_hours = table(QStringLiteral("tblHours"),
                    {QStringLiteral("Output"), QStringLiteral("Today"), QStringLiteral("This week"),
                     QStringLiteral("This month"), QStringLiteral("Since reset"), QStringLiteral("Reset on")},
                    hours);
    m_hours->setRowCount(8);
    hl->addWidget(m_hours);
    m_reset = button(QStringLiteral("cmdResetHours"), QStringLiteral("Re&set the selected output"), hours);
    m_reset->setToolTip(QStringLiteral("Count the selected output's hours from zero, from now"));
    hl->addWidget(m_reset, 0, Qt::AlignLeft);
    tabs->addTab(hours, QStringLiteral("Operating hours"));

    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("lblProblem"));
    m_problem->setWordWrap(true);
    m_problem->hide();
    top->addWidget(m_problem);

    connect(refresh, &QPushButton::clicked, this, &HistoryWindow::refresh);
    connect(exportButton, &QPushButton::clicked, this, &HistoryWindow::exportChosen);
    connect(m_show, &QComboBox::currentIndexChanged, this, &HistoryWindow::refreshRecords);
    connect(m_from, &QDateEdit::dateChanged, this, &HistoryWindow::refreshRecords);
    connect(m_to, &QDateEdit::dateChanged, this, &HistoryWindow::refreshRecords);
    connect(m_day, &QDateEdit::dateChanged, this, &HistoryWindow::refreshTimeline);
    connect(m_reset, &QPushButton::clicked, this, &HistoryWindow::resetSelected);
    // The records that waited behind the count are in the file now, and the hours known.
    connect(&m_source, &HistorySource::countingEnded, this, [this] {
        if (isVisible()) HistoryWindow::refresh();
    });
    connect(&m_source, &HistorySource::refused, this,
            [this](const QString& text) { ui::messenger().notice(this, windowTitle(), text); });
    // The hours count on while the window is open; nothing runs while it is hidden.
    m_hoursTimer.setInterval(kHoursPeriod);
    connect(&m_hoursTimer, &QTimer::timeout, this, &HistoryWindow::refreshHours);
    resize(720, 480);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    refresh();
    m_hoursTimer.start();
}

void HistoryWindow::hideEvent(QHideEvent* e)
{
    m_hoursTimer.stop();
    QWidget::hideEvent(e);
}

void HistoryWindow::setProblem(const QString& text)
{
    m_problem->setText(text);
    m_problem->setVisible(!text.isEmpty());
}

void HistoryWindow::refresh()
{
    m_source.sync();
    refreshRecords();
    refreshTimeline();
    refreshHours();
}

void HistoryWindow::refreshRecords()
{
    const int index = m_show->currentIndex();
    Show show;
    if (index >= 1 && index <= 8) show.output = index;
    if (index >= 9) show.input = index - 8;
    m_rows.clear();
    QString problem;
    try {
        m_rows = rowsOfDays(m_source.path(), m_from->date(), m_to->date(), show, kMaxRows);
    } catch (const Failure& f) {
        problem = f.description;
    }
    if (problem.isEmpty()) problem = m_source.problem();
    setProblem(problem);

    m_records->setRowCount(int(m_rows.size()));
    for (int r = 0; r < m_rows.size(); ++r) {
        const Row& row = m_rows.at(r);
        setCell(m_records, r, 0, timeText(row.ms));
        setCell(m_records, r, 1, row.line);
        setCell(m_records, r, 2, row.state);
        setCell(m_records, r, 3, row.cause);
        setCell(m_records, r, 4, row.byte < 0 ? QString() : QString::number(row.byte));
    }
    m_records->resizeColumnsToContents();
    m_count->setText(m_rows.size() >= kMaxRows
                         ? QStringLiteral("The newest %1 changes of the dates chosen").arg(kMaxRows)
                         : QStringLiteral("%1 changes").arg(m_rows.size()));
}

void HistoryWindow::refreshTimeline()
{
    const qint64 now = m_clock.now().toMSecsSinceEpoch();
    DayOfOutputs day;
    try {
        day = outputsOfDay(m_source.path(), m_day->date(), now);
    } catch (const Failure& f) {
        setProblem(f.description);
        day.from = QDateTime(m_day->date(), QTime(0, 0)).toMSecsSinceEpoch();
        day.to = QDateTime(m_day->date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
        day.knownFrom = day.to; // nothing known
    }
    m_timeline->setDay(day.from, day.to, day.knownFrom, now, day.on);
}

void HistoryWindow::refreshHours()
{
    const QString unknown = m_source.isCounting()                ? QStringLiteral("counting…")
                            : !m_source.hoursProblem().isEmpty() ? QStringLiteral("not counted")
                                                                 : QString();
    m_hours->setToolTip(m_source.hoursProblem());
    m_reset->setEnabled(m_source.hoursProblem().isEmpty());
    if (!unknown.isEmpty()) {
        for (int m = 1; m <= 8; ++m) {
            setCell(m_hours, m - 1, 0, QString::number(m));
            for (int c = 1; c <= 5; ++c)
                setCell(m_hours, m - 1, c, unknown);
        }
        return;
    }
    for (int m = 1; m <= 8; ++m) {
        const Hours h = m_source.hours(m);
        setCell(m_hours, m - 1, 0, QString::number(m));
        setCell(m_hours, m - 1, 1, formatDuration(h.todayMs));
        setCell(m_hours, m - 1, 2, formatDuration(h.weekMs));
        setCell(m_hours, m - 1, 3, formatDuration(h.monthMs));
        setCell(m_hours, m - 1, 4, formatDuration(h.totalMs));
        setCell(m_hours, m - 1, 5, timeText(h.resetMs).left(16));
    }
}

void HistoryWindow::resetSelected()
{
    const int row = m_hours->currentRow();
    if (row < 0 || row > 7) return;
    const int output = row + 1;
    if (!m_confirm(QStringLiteral("Count the operating hours of output %1 from zero, from now?").arg(output)))
        return;
    m_source.resetHours(output);
    refreshHours();
}

bool HistoryWindow::exportCsv(const QString& path)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text) || f.write(csvOf(m_rows).toUtf8()) < 0 ||
        !f.commit()) {
        ui::messenger().modal(
            this, windowTitle(),
            QStringLiteral("The history could not be written to %1: %2").arg(path, f.errorString()));
        return false;
    }
    return true;
}

void HistoryWindow::exportChosen()
{
    const QString suggested = QDir::home().filePath(
        QStringLiteral("history-%1-to-%2.csv")
            .arg(m_from->date().toString(Qt::ISODate), m_to->date().toString(Qt::ISODate)));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export the history"), suggested,
                                                      QStringLiteral("CSV files (*.csv)"));
    if (!path.isEmpty()) exportCsv(path);
}

} // namespace kestra::history
