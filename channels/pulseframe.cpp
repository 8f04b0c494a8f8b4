#include "channels/pulseframe.h"

#include "ui/naming.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <cmath>

namespace kestra::channels {

using namespace std::chrono_literals;

namespace {
constexpr auto kMinute = 60s;

const QString kOn = QStringLiteral("ON");
const QString kOff = QStringLiteral("OFF");

QStringList numbers(int from, int to)
{
    QStringList out;
    for (int i = from; i <= to; ++i)
        out << QString::number(i);
    return out;
}

QListWidget* makeList(const QString& name, const QString& tip, const QStringList& entries, QWidget* parent)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setToolTip(tip);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->addItems(entries);
    // The durations are read from the selection, so one must always exist:
    // a Ctrl+click that clears it puts it back on the current entry.
    QObject::connect(list, &QListWidget::itemSelectionChanged, list, [list] {
        if (list->selectedItems().isEmpty() && list->currentItem()) list->currentItem()->setSelected(true);
    });
    list->setFixedWidth(list->fontMetrics().horizontalAdvance(QStringLiteral("59.5")) * 3);
    list->setFixedHeight(list->fontMetrics().height() * 6);
    return list;
}

void selectEntry(QListWidget* list, const QString& text)
{
    const auto found = list->findItems(text, Qt::MatchExactly);
    if (!found.isEmpty()) list->setCurrentItem(found.first());
}

QTimer* makePhaseTimer(const QString& name, bool oneShot, QObject* parent)
{
    auto* t = new QTimer(parent);
    t->setObjectName(name);
    // A phase length is a promise to the user; a coarse timer may be 5 % off.
    t->setTimerType(Qt::PreciseTimer);
    t->setSingleShot(oneShot);
    if (!oneShot) t->setInterval(kMinute);
    return t;
}
} // namespace

PulseFrame::PulseFrame(int channel, QTimer* timer1, QLineEdit* status, QWidget* parent)
    : QGroupBox(parent), m_channel(channel), m_timer1(timer1), m_status(status)
{
    setObjectName(QStringLiteral("PulseFrame"));
    const bool seconds = inSeconds();
    setTitle(seconds ? QStringLiteral("Pulse in seconds") : QStringLiteral("Pulse in minutes"));

    // Channel 1 offers half a second only as an ON time and 59.5 s only as an OFF time.
    QStringList onEntries = numbers(1, 60);
    QStringList offEntries = numbers(1, 60);
    if (seconds) {
        onEntries << QStringLiteral(".5");
        offEntries = numbers(1, 59) << QStringLiteral("59.5") << QStringLiteral("60");
    }
    const QString when = seconds ? QStringLiteral(" when highlighted.") : QString();
    m_onList = makeList(QStringLiteral("PULSEON"), QStringLiteral("Pulses output on for time") + when,
                        onEntries, this);
    m_offList = makeList(QStringLiteral("PULSEOFF"), QStringLiteral("Pulses output off for time") + when,
                         offEntries, this);

    auto* startButton = new QPushButton(QStringLiteral("PULSE ON"), this);
    startButton->setObjectName(seconds ? QStringLiteral("PULSE") : QStringLiteral("PLSEON"));
    startButton->setToolTip(QStringLiteral("Turn on pulse"));
    auto* stopButton = new QPushButton(QStringLiteral("PULSEOFF"), this);
    stopButton->setObjectName(QStringLiteral("PLSEOFF"));
    stopButton->setToolTip(QStringLiteral("Turn off pulse"));
    connect(startButton, &QPushButton::clicked, this, &PulseFrame::start);
    connect(stopButton, &QPushButton::clicked, this, &PulseFrame::stop);

    m_onTimer = makePhaseTimer(QStringLiteral("PulseOnTimer"), seconds, this);
    m_offTimer = makePhaseTimer(QStringLiteral("PulseOffTimer"), seconds, this);
    connect(m_onTimer, &QTimer::timeout, this, &PulseFrame::onPhaseTick);
    connect(m_offTimer, &QTimer::timeout, this, &PulseFrame::offPhaseTick);

    const QString unit = seconds ? QStringLiteral("seconds") : QStringLiteral("minutes");
    ui::nameControl(m_onList, QStringLiteral("Pulse ON time in ") + unit);
    ui::nameControl(m_offList, QStringLiteral("Pulse OFF time in ") + unit);
    ui::nameControl(startButton, QStringLiteral("Pulse on"));
    ui::nameControl(stopButton, QStringLiteral("Pulse off"));

    auto* grid = new QGridLayout(this);
    const auto heading = [this](const QString& text, QListWidget* list) {
        auto* l = new QLabel(text, this);
        l->setBuddy(list);
        return l;
    };
    grid->addWidget(heading(QStringLiteral("ON for"), m_onList), 0, 0);
    grid->addWidget(heading(QStringLiteral("OFF for"), m_offList), 0, 1);
    grid->addWidget(m_onList, 1, 0);
    grid->addWidget(m_offList, 1, 1);
    int row = 2;
    if (!seconds) {
        auto counter = [this](const QString& name, const QString& tip) {
            auto* e = new QLineEdit(QStringLiteral("0"), this);
            e->setObjectName(name);
            e->setToolTip(tip);
            e->setReadOnly(true);
            e->setAlignment(Qt::AlignCenter);
            ui::nameDisplay(e, tip);
            return e;
        };
        m_pstart = counter(QStringLiteral("PSTART"), QStringLiteral("Minutes ON"));
        m_pstop = counter(QStringLiteral("PSTOP"), QStringLiteral("Minutes OFF"));
        grid->addWidget(m_pstart, row, 0);
        grid->addWidget(m_pstop, row, 1);
        ++row;
    }
    grid->addWidget(startButton, row, 0);
    grid->addWidget(stopButton, row, 1);
    reset();
}

bool PulseFrame::isPulsing() const
{
    return m_onTimer->isActive() || m_offTimer->isActive();
}

void PulseFrame::reset()
{
    halt();
    selectEntry(m_onList, QStringLiteral("1"));
    selectEntry(m_offList, QStringLiteral("1"));
}

void PulseFrame::halt()
{
    m_onTimer->stop();
    m_offTimer->stop();
}

std::optional<std::chrono::milliseconds> PulseFrame::secondsToInterval(const QString& text)
{
    bool ok = false;
    const double seconds = QLocale::c().toDouble(text, &ok);
    if (!ok || !(seconds > 0) || seconds > 3600) return std::nullopt;
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

QString PulseFrame::selected(const QListWidget* list)
{
    const auto items = list->selectedItems();
    if (!items.isEmpty()) return items.first()->text();
    return list->currentItem() ? list->currentItem()->text() : QStringLiteral("1");
}

std::chrono::milliseconds PulseFrame::selectedInterval(const QListWidget* list) const
{
    // The lists hold numbers only, so this always converts.
    return secondsToInterval(selected(list)).value_or(1000ms);
}

void PulseFrame::start()
{
    m_timer1->stop();
    m_offTimer->stop();
    if (inSeconds()) {
        m_onTimer->setInterval(selectedInterval(m_onList));
        m_onTimer->start();
        m_status->setText(kOn);
    } else {
        m_onTimer->start();
        m_status->setText(kOn);
        m_pstart->setText(QStringLiteral("0"));
        m_pstop->setText(QStringLiteral("0"));
    }
}

void PulseFrame::stop()
{
    if (inSeconds()) {
        // Status keeps its last pulse value until Timer1's next tick.
        m_timer1->start();
        halt();
    } else {
        halt();
        m_timer1->start();
        m_status->setText(kOff);
    }
}

void PulseFrame::beginPhase(bool on)
{
    QTimer* next = on ? m_onTimer : m_offTimer;
    QTimer* ending = on ? m_offTimer : m_onTimer;
    m_status->setText(on ? kOn : kOff);
    ending->stop();
    // Each phase lasts what is selected when it begins, counted from this tick.
    next->setInterval(selectedInterval(on ? m_onList : m_offList));
    next->start();
}

bool PulseFrame::countMinute(QLineEdit* counter, const QListWidget* list)
{
    // A counter that is not a number (only a re-read of a hand-made record can
    // bring one) counts as 0, and the phase goes on from there.
    bool ok = false;
    const int before = counter->text().trimmed().toInt(&ok);
    const int now = (ok ? before : 0) + 1;
    counter->setText(QString::number(now));
    bool selOk = false;
    const int wanted = selected(list).toInt(&selOk);
    return selOk && wanted == now;
}

void PulseFrame::onPhaseTick()
{
    if (inSeconds()) {
        beginPhase(false);
        return;
    }
    if (!countMinute(m_pstart, m_onList)) return;
    m_status->setText(kOff);
    m_offTimer->start();
    m_onTimer->stop();
    m_pstop->setText(QStringLiteral("0"));
}

void PulseFrame::offPhaseTick()
{
    if (inSeconds()) {
        beginPhase(true);
        return;
    }
    if (!countMinute(m_pstop, m_offList)) return;
    m_status->setText(kOn);
    m_onTimer->start();
    m_offTimer->stop();
    m_pstart->setText(QStringLiteral("0"));
}

} // namespace kestra::channels
