#include "views/channels/pulseframe.h"

#include "model/channel.h"
#include "model/pulse.h"
#include "views/channels/channelsource.h"
#include "views/widgets/naming.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace kestra::channels {

namespace {

QListWidget* makeList(const QString& name, const QString& tip, QWidget* parent)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setToolTip(tip);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
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
    if (list->currentItem() && list->currentItem()->text() == text) return;
    const auto found = list->findItems(text, Qt::MatchExactly);
    if (!found.isEmpty()) list->setCurrentItem(found.first());
}

void showText(QLineEdit* e, const QString& text)
{
    if (e && e->text() != text) e->setText(text);
}
} // namespace

PulseFrame::PulseFrame(ChannelSource& channel, QWidget* parent) : QGroupBox(parent), m_channel(channel)
{
    setObjectName(QStringLiteral("PulseFrame"));
    const bool seconds = m_channel.number() == 1;
    setTitle(seconds ? QStringLiteral("Pulse in seconds") : QStringLiteral("Pulse in minutes"));

    const QString when = seconds ? QStringLiteral(" when highlighted.") : QString();
    m_onList = makeList(QStringLiteral("PULSEON"), QStringLiteral("Pulses output on for time") + when, this);
    m_offList =
        makeList(QStringLiteral("PULSEOFF"), QStringLiteral("Pulses output off for time") + when, this);
    for (QListWidget* list : {m_onList, m_offList})
        connect(list, &QListWidget::currentTextChanged, this, [this, list](const QString& entry) {
            // Showing the channel's own choice is no choice of the user's.
            if (!m_showing && !entry.isEmpty()) m_channel.selectPulse(list == m_onList, entry);
        });

    auto* startButton = new QPushButton(QStringLiteral("PULSE ON"), this);
    startButton->setObjectName(seconds ? QStringLiteral("PULSE") : QStringLiteral("PLSEON"));
    startButton->setToolTip(QStringLiteral("Turn on pulse"));
    auto* stopButton = new QPushButton(QStringLiteral("PULSEOFF"), this);
    stopButton->setObjectName(QStringLiteral("PLSEOFF"));
    stopButton->setToolTip(QStringLiteral("Turn off pulse"));
    connect(startButton, &QPushButton::clicked, this, [this] { m_channel.startPulse(); });
    connect(stopButton, &QPushButton::clicked, this, [this] { m_channel.stopPulse(); });

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
    connect(&m_channel, &ChannelSource::pulseChanged, this, &PulseFrame::showPulse);
    showPulse();
}

void PulseFrame::showPulse()
{
    m_showing = true;
    // A switch in another process names its entries once it is reached.
    for (QListWidget* list : {m_onList, m_offList})
        if (list->count() == 0) list->addItems(m_channel.pulseEntries(list == m_onList));
    selectEntry(m_onList, m_channel.pulseSelection(true));
    selectEntry(m_offList, m_channel.pulseSelection(false));
    showText(m_pstart, m_channel.pulseCounter(true));
    showText(m_pstop, m_channel.pulseCounter(false));
    m_showing = false;
}

} // namespace kestra::channels
