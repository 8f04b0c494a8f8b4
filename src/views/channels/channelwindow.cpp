#include "views/channels/channelwindow.h"

#include "model/channel.h"
#include "views/channels/channelsource.h"
#include "views/channels/pulseframe.h"
#include "views/widgets/contrast.h"
#include "views/widgets/naming.h"
#include "views/widgets/timebox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <optional>

namespace kestra::channels {

namespace {
const std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};
const std::array<const char*, 7> kDayCaptions = {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"};
const std::array<const char*, 7> kFinishDayNames = {"SUNOFF", "MONOFF", "TUEOFF", "WEDOFF",
                                                    "THROFF", "FRIOFF", "SATOFF"};

const QString kTimeTip = QStringLiteral("Time in hh:mm:ss");

// Each window has its own colour so that the windows can be told apart;
// channel 8 keeps the system's default background.
std::optional<QColor> background(int channel)
{
    switch (channel) {
    case 1:
        return QColor(255, 192, 128);
    case 2:
        return QColor(0, 255, 255);
    case 3:
        return QColor(255, 128, 128);
    case 4:
        return QColor(255, 128, 0);
    case 5:
        return QColor(0, 255, 0);
    case 6:
        return QColor(0, 0, 255);
    case 7:
        return QColor(255, 0, 255);
    default:
        return std::nullopt;
    }
}

QLabel* whiteLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(p);
    return l;
}
} // namespace

ChannelWindow::ChannelWindow(model::Channel& channel, QWidget* owner)
    : ChannelWindow(*new LocalChannel(channel), owner)
{
}

ChannelWindow::ChannelWindow(ChannelSource& source, QWidget* owner)
    // A dialog-type window: the window system keeps it in front of its owner.
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_channel(source)
{
    // A local channel made by the other constructor has no parent: the window keeps it.
    if (!source.parent()) m_owned.reset(&source);
    const int m = source.number();
    setObjectName(QStringLiteral("Form%1").arg(m));
    m_channel.setWindow(this);
    if (const auto colour = background(m)) {
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, *colour);
        p.setColor(QPalette::Button, *colour);
        // Labels, check boxes and options stand on that colour. Arrows of the
        // time boxes keep the dark button text: the style shades those parts lighter.
        p.setColor(QPalette::WindowText, ui::readableTextOn(*colour));
        setPalette(p);
    }

    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);
    buildDays(top);
    buildTimes(top);
    buildModes(top);

    m_status = new QLineEdit(QStringLiteral("calculating"), this);
    m_status->setObjectName(QStringLiteral("Status%1").arg(m));
    m_status->setReadOnly(true);
    m_status->setAlignment(Qt::AlignCenter);
    ui::nameDisplay(m_status, QStringLiteral("Status"));

    if (m_channel.hasPulse()) {
        m_pulse = new PulseFrame(m_channel, this);
        top->addWidget(m_pulse);
    }

    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(new QLabel(QStringLiteral("STATUS:"), this));
    statusRow->addWidget(m_status);
    auto* close = new QPushButton(QStringLiteral("OK"), this);
    close->setObjectName(QStringLiteral("Close1"));
    ui::nameControl(close, QStringLiteral("OK"), QStringLiteral("Hide the window and store its settings"));
    connect(close, &QPushButton::clicked, this, &ChannelWindow::ok);
    statusRow->addStretch();
    // The calendar's additions (sun, holidays, presence) have a window of their own.
    auto* calendar = new QPushButton(QStringLiteral("Sun, holidays and presence..."), this);
    calendar->setObjectName(QStringLiteral("btnCalendar"));
    ui::nameControl(calendar, QStringLiteral("Sun, holidays and presence"),
                    QStringLiteral("Tie this output's switchings to sunrise or sunset, holidays and presence"));
    connect(calendar, &QPushButton::clicked, this, [this] { emit calendarRequested(m_channel.number()); });
    statusRow->addWidget(calendar);
    statusRow->addWidget(close);
    top->addLayout(statusRow);
    m_next = new QLabel(this);
    m_next->setObjectName(QStringLiteral("lblNext"));
    m_next->setTextFormat(Qt::PlainText);
    // As wide as the longest text, so that the fixed-size window keeps its size.
    m_next->setMinimumWidth(
        m_next->fontMetrics().horizontalAdvance(QStringLiteral("no mode chosen: select AUTO above")));
    top->addWidget(m_next);
    if (const auto colour = background(m))
        for (QPushButton* b : findChildren<QPushButton*>())
            ui::paintButton(b, *colour);

    connect(&m_channel, &ChannelSource::settingsChanged, this, &ChannelWindow::showSettings);
    connect(&m_channel, &ChannelSource::stateChanged, this, &ChannelWindow::showState);
    showSettings();
    showState();
}

ChannelWindow::~ChannelWindow() = default;

model::Channel& ChannelWindow::channel() const
{
    return *m_channel.local();
}

void ChannelWindow::buildDays(QVBoxLayout* top)
{
    auto* grid = new QGridLayout;
    const bool finishRow = m_channel.number() == 7;
    const int firstColumn = finishRow ? 1 : 0;
    if (finishRow) {
        grid->addWidget(new QLabel(QStringLiteral("Start Day"), this), 0, 0);
        grid->addWidget(new QLabel(QStringLiteral("Finish Day"), this), 1, 0);
    }
    for (int d = 0; d < 7; ++d) {
        auto* box = new QCheckBox(QLatin1String(kDayCaptions[d]), this);
        box->setObjectName(QLatin1String(kDayNames[d]));
        ui::nameControl(box, finishRow ? QStringLiteral("Start day ") + QLatin1String(kDayNames[d])
                                       : QLatin1String(kDayNames[d]));
        connect(box, &QCheckBox::clicked, this, [this, d](bool ticked) { m_channel.clickDay(d, ticked); });
        m_days[d] = box;
        grid->addWidget(box, 0, firstColumn + d);
        if (!finishRow) continue;
        auto* finish = new QCheckBox(QLatin1String(kDayCaptions[d]), this);
        finish->setObjectName(QLatin1String(kFinishDayNames[d]));
        ui::nameControl(finish, QStringLiteral("Finish day ") + QLatin1String(kDayNames[d]));
        connect(finish, &QCheckBox::clicked, this,
                [this, d](bool ticked) { m_channel.clickFinishDay(d, ticked); });
        m_finishDays[d] = finish;
        grid->addWidget(finish, 1, firstColumn + d);
    }
    top->addLayout(grid);
}

void ChannelWindow::buildTimes(QVBoxLayout* top)
{
    const int m = m_channel.number();
    const int count = switchingCount(m);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    int row = 0;
    const auto labels = [&](const QString& right) {
        grid->addWidget(whiteLabel(QStringLiteral("Start Time:"), this), row, 0, Qt::AlignLeft);
        grid->addWidget(whiteLabel(right, this), row, 1, Qt::AlignLeft);
        ++row;
    };
    const auto timeBox = [this](int index) {
        auto* box = new ui::TimeBox(model::timeFieldName(m_channel.number(), index), this);
        box->setMinimumContentsLength(8);
        connect(box, &ui::TimeBox::edited, this,
                [this, index](const QString& text) { m_channel.editTime(index, text); });
        connect(box, &ui::TimeBox::focusChanged, this,
                [this, index](bool focused) { m_channel.setTimeFocus(index, focused); });
        connect(box, &ui::TimeBox::editEnded, this, [this, index] {
            if (m_channel.timeEditPending(index)) m_channel.finishTimeEdit(index);
        });
        m_times.push_back(box);
        return box;
    };
    for (int k = 0; k < count; ++k) {
        const QChar letter = QLatin1Char(char('a' + k));
        // Channels 4 and 5 label each switching; channel 8's ten rows share one pair.
        if (k == 0 || kindOf(m) == Kind::Double)
            labels(m == 7 ? QStringLiteral("Finish Time:") : QStringLiteral("Run Time:"));
        ui::TimeBox* start = timeBox(2 * k);
        ui::TimeBox* run = timeBox(2 * k + 1);
        if (m <= 3 && k == 0) {
            start->setToolTip(kTimeTip);
            run->setToolTip(kTimeTip);
        }
        if (kindOf(m) == Kind::Double && k == 1)
            run->setToolTip(QStringLiteral("Set to 00:00:00 if not needed."));
        const QString which = count > 1 ? QStringLiteral(" ") + letter : QString();
        const QString form = QStringLiteral("hh:mm:ss or h:mm on the 24-hour clock");
        ui::nameControl(start, QStringLiteral("Start time") + which,
                        start->toolTip().isEmpty() ? form : QString());
        ui::nameControl(run, (m == 7 ? QStringLiteral("Finish time") : QStringLiteral("Run time")) + which,
                        run->toolTip().isEmpty() ? form : QString());
        grid->addWidget(start, row, 0);
        grid->addWidget(run, row, 1);
        ++row;
    }
    top->addLayout(grid);
}

void ChannelWindow::buildModes(QVBoxLayout* top)
{
    const auto option = [this](const char* caption, const QString& tip, Mode mode) {
        auto* b = new QRadioButton(QLatin1String(caption), this);
        b->setObjectName(QLatin1String(caption) + QString::number(m_channel.number()));
        b->setToolTip(tip);
        ui::nameControl(b, QStringLiteral("Mode ") + QLatin1String(caption));
        connect(b, &QRadioButton::clicked, this, [this, mode] { m_channel.selectMode(mode); });
        return b;
    };
    m_auto = option("AUTO", QStringLiteral("Select AUTO for start and run times"), Mode::Auto);
    m_on = option("ON", QStringLiteral("For ON all the time."), Mode::On);
    m_off = option("OFF", QStringLiteral("Select OFF to disable."), Mode::Off);
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->addButton(m_auto);
    m_modeGroup->addButton(m_on);
    m_modeGroup->addButton(m_off);

    auto* row = new QHBoxLayout;
    row->addWidget(m_auto);
    row->addWidget(m_on);
    row->addWidget(m_off);
    row->addStretch();
    top->addLayout(row);
}

void ChannelWindow::showSettings()
{
    // The caption is the channel's, set once when it loads.
    if (windowTitle() != m_channel.caption()) setWindowTitle(m_channel.caption());
    if (m_times.front()->count() == 0) {
        for (int i = 0; i < int(m_times.size()); ++i)
            m_times[i]->setPresets(m_channel.offersStartTimes(i) ? m_channel.startTimes()
                                                                 : m_channel.runTimes());
    }
    for (int i = 0; i < int(m_times.size()); ++i) {
        // The echo of a switch in another process comes after the key that
        // caused it: the box being typed in keeps what is typed, and shows the
        // switch's text again once the edit ends.
        ui::TimeBox* box = m_times[i];
        const bool typing = box->hasFocus() || (box->lineEdit() && box->lineEdit()->hasFocus());
        if (!m_channel.local() && typing) continue;
        box->showText(m_channel.timeText(i));
    }
    for (int d = 0; d < 7; ++d) {
        m_days[d]->setChecked(m_channel.day(d));
        if (m_finishDays[d]) m_finishDays[d]->setChecked(m_channel.finishDay(d));
    }
    const Mode mode = m_channel.mode();
    m_modeGroup->setExclusive(false);
    m_auto->setChecked(mode == Mode::Auto);
    m_on->setChecked(mode == Mode::On);
    m_off->setChecked(mode == Mode::Off);
    m_modeGroup->setExclusive(true);
}

void ChannelWindow::showNext(const QString& text, const QString& toolTip)
{
    if (m_next->text() != text) m_next->setText(text);
    m_next->setToolTip(toolTip);
}

void ChannelWindow::showState()
{
    // A channel of a switch that is not running is shown as unknown, never as live.
    const QString text = m_channel.isReachable() ? stateText(m_channel.state()) : QStringLiteral("unknown");
    if (m_status->text() != text) m_status->setText(text);
}

void ChannelWindow::ok()
{
    hide();
    m_channel.ok();
}

void ChannelWindow::closeEvent(QCloseEvent* e)
{
    // No close box: a window manager's close request does what OK does.
    if (m_channel.isLive() && e->spontaneous()) {
        e->ignore();
        ok();
        return;
    }
    QWidget::closeEvent(e);
}

} // namespace kestra::channels
