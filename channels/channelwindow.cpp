#include "channels/channelwindow.h"

#include "channels/pulseframe.h"
#include "common/failure.h"
#include "common/timetext.h"
#include "store/datasource.h"
#include "store/schema.h"
#include "ui/contrast.h"
#include "ui/naming.h"
#include "ui/timebox.h"

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
#include <chrono>
#include <optional>

namespace kestra::channels {

using namespace std::chrono_literals;

namespace {
constexpr auto kTickPeriod = 500ms;

const std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};
const std::array<const char*, 7> kDayCaptions = {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"};
const std::array<const char*, 7> kDayFlagNames = {"txsun", "txmon", "txtue", "txwed",
                                                  "txthr", "txfri", "txsat"};
const std::array<const char*, 7> kFinishDayNames = {"SUNOFF", "MONOFF", "TUEOFF", "WEDOFF",
                                                    "THROFF", "FRIOFF", "SATOFF"};
const std::array<const char*, 7> kFinishFieldNames = {"SUN7A", "MON7A", "TUE7A", "WED7A",
                                                      "THR7A", "FRI7A", "SAT7A"};

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

QLineEdit* hiddenField(const QString& name, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->hide();
    return e;
}

// A flag text that is neither true nor false reads as cleared and is
// rewritten as "False", so that the next save stores a readable flag.
bool readFlag(QLineEdit* e)
{
    const std::optional<bool> f = tryParseFlag(e->text());
    if (!f) e->setText(flagText(false));
    return f.value_or(false);
}

// Switching letters: a .. j. Channel 8 writes "Time1i" and "Time1j" with a capital.
QString startBoxName(int channel, int k)
{
    const QChar letter = QLatin1Char(char('a' + k));
    if (channel == 8 && k >= 8) return QStringLiteral("Time1") + letter;
    return QStringLiteral("time1") + letter;
}

QString runBoxName(int channel, int k)
{
    const QChar letter = QLatin1Char(char('a' + k));
    // Channels 4 and 5 name their second run box "run1b".
    if (k == 1 && channel != 8) return QStringLiteral("run1b");
    return QStringLiteral("Run1") + letter;
}
} // namespace

ChannelWindow::ChannelWindow(const ui::AppContext& ctx, int channel, inputs::InputsAccess* inputs,
                             QWidget* owner)
    // A dialog-type window: the window system keeps it in front of its owner.
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_channel(channel),
      m_ctx(ctx), m_inputs(inputs), m_data2(std::make_unique<store::DataSource>(ctx.database)),
      m_errors(this, ctx.build.title, ui::badEntryText, [this] {
          // Inputs first, then this window; a re-read that fails leaves what is shown.
          if (m_inputs) {
              try {
                  m_inputs->rereadRecord();
              } catch (...) {
              }
          }
          try {
              rereadRecord();
          } catch (...) {
          }
      })
{
    setObjectName(QStringLiteral("Form%1").arg(channel));
    if (const auto colour = background(channel)) {
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, *colour);
        p.setColor(QPalette::Button, *colour);
        // Labels, check boxes and options stand on that colour. Arrows of the
        // time boxes keep the dark button text: the style shades those parts lighter.
        p.setColor(QPalette::WindowText, ui::readableTextOn(*colour));
        setPalette(p);
    }

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(kTickPeriod);
    m_ctx.ensureTicker(this).attach(m_timer1, Ticker::Rank::Channels, [this] { tick(); });

    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);
    buildDays(top);
    buildTimes(top);
    buildModes(top);

    m_status = new QLineEdit(QStringLiteral("calculating"), this);
    m_status->setObjectName(QStringLiteral("Status%1").arg(channel));
    m_status->setReadOnly(true);
    m_status->setAlignment(Qt::AlignCenter);
    ui::nameDisplay(m_status, QStringLiteral("Status"));

    if (channel == 1 || channel == 2) {
        m_pulse = new PulseFrame(channel, m_timer1, m_status, this);
        top->addWidget(m_pulse);
        // Only the evaluation and the pulse frame write the status; a text the
        // evaluation did not publish is a pulse phase (or the stop of one).
        connect(m_status, &QLineEdit::textChanged, this, [this] {
            if (!m_publishing) m_cause = Cause::Pulse;
        });
    }

    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(new QLabel(QStringLiteral("STATUS:"), this));
    statusRow->addWidget(m_status);
    auto* close = new QPushButton(QStringLiteral("OK"), this);
    close->setObjectName(QStringLiteral("Close1"));
    ui::nameControl(close, QStringLiteral("OK"), QStringLiteral("Hide the window and store its settings"));
    connect(close, &QPushButton::clicked, this, &ChannelWindow::ok);
    statusRow->addStretch();
    statusRow->addWidget(close);
    top->addLayout(statusRow);
    if (const auto colour = background(channel))
        for (QPushButton* b : findChildren<QPushButton*>())
            ui::paintButton(b, *colour);

    m_textcapt = hiddenField(QStringLiteral("Textcapt"), this);
    bindFields();
    m_data2->setValidationHandler([this] { validate(); });
}

ChannelWindow::~ChannelWindow() = default;

void ChannelWindow::buildDays(QVBoxLayout* top)
{
    auto* grid = new QGridLayout;
    const bool finishRow = m_channel == 7;
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
        QLineEdit* flag = hiddenField(QLatin1String(kDayFlagNames[d]), this);
        connect(box, &QCheckBox::clicked, flag, [flag](bool ticked) { flag->setText(flagText(ticked)); });
        m_days[d] = box;
        m_dayFlags[d] = flag;
        grid->addWidget(box, 0, firstColumn + d);
        if (!finishRow) continue;
        auto* finish = new QCheckBox(QLatin1String(kDayCaptions[d]), this);
        finish->setObjectName(QLatin1String(kFinishDayNames[d]));
        ui::nameControl(finish, QStringLiteral("Finish day ") + QLatin1String(kDayNames[d]));
        QLineEdit* finishFlag = hiddenField(QLatin1String(kDayFlagNames[d]) + QStringLiteral("off"), this);
        connect(finish, &QCheckBox::clicked, finishFlag,
                [finishFlag](bool ticked) { finishFlag->setText(flagText(ticked)); });
        m_finishDays[d] = finish;
        m_finishFlags[d] = finishFlag;
        grid->addWidget(finish, 1, firstColumn + d);
    }
    top->addLayout(grid);
}

ui::TimeBox* ChannelWindow::addTimeBox(const QString& name, const QString& field, bool startList)
{
    auto* box = new ui::TimeBox(name, this);
    box->setProperty("startList", startList);
    box->setMinimumContentsLength(8);
    connect(box, &ui::TimeBox::editFinished, this,
            [this, box] { ui::guarded(m_errors, [box] { box->finishEdit(); }); });
    // Start fields are written under a lower-case first letter ("start3a"); names match without case.
    const QString writeName =
        field.startsWith(QLatin1String("Start")) ? field.at(0).toLower() + field.mid(1) : field;
    m_timeFields.push_back({box, writeName});
    return box;
}

void ChannelWindow::buildTimes(QVBoxLayout* top)
{
    const int m = m_channel;
    const int count = switchingCount(m);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    int row = 0;
    const auto labels = [&](const QString& right) {
        grid->addWidget(whiteLabel(QStringLiteral("Start Time:"), this), row, 0, Qt::AlignLeft);
        grid->addWidget(whiteLabel(right, this), row, 1, Qt::AlignLeft);
        ++row;
    };
    for (int k = 0; k < count; ++k) {
        const QChar letter = QLatin1Char(char('a' + k));
        // Channels 4 and 5 label each switching; channel 8's ten rows share one pair.
        if (k == 0 || kindOf(m) == Kind::Double)
            labels(m == 7 ? QStringLiteral("Finish Time:") : QStringLiteral("Run Time:"));
        ui::TimeBox* start = addTimeBox(startBoxName(m, k), QStringLiteral("Start%1").arg(m) + letter, true);
        // Channel 7's finish is a clock time, offered from the start-time list.
        ui::TimeBox* run = addTimeBox(runBoxName(m, k), QStringLiteral("Run%1").arg(m) + letter, m == 7);
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
        m_startBoxes.push_back(start);
        m_runBoxes.push_back(run);
        grid->addWidget(start, row, 0);
        grid->addWidget(run, row, 1);
        ++row;
    }
    top->addLayout(grid);
}

void ChannelWindow::buildModes(QVBoxLayout* top)
{
    const auto option = [this](const char* caption, const QString& tip) {
        auto* b = new QRadioButton(QLatin1String(caption), this);
        b->setObjectName(QLatin1String(caption) + QString::number(m_channel));
        b->setToolTip(tip);
        ui::nameControl(b, QStringLiteral("Mode ") + QLatin1String(caption));
        return b;
    };
    m_auto = option("AUTO", QStringLiteral("Select AUTO for start and run times"));
    m_on = option("ON", QStringLiteral("For ON all the time."));
    m_off = option("OFF", QStringLiteral("Select OFF to disable."));
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->addButton(m_auto);
    m_modeGroup->addButton(m_on);
    m_modeGroup->addButton(m_off);
    connect(m_auto, &QRadioButton::clicked, this, [this] { selectMode(ModeOption::Auto); });
    connect(m_off, &QRadioButton::clicked, this, [this] { selectMode(ModeOption::Off); });
    connect(m_on, &QRadioButton::clicked, this, [this] { selectMode(ModeOption::On); });
    m_txauto = hiddenField(QStringLiteral("txauto"), this);
    m_txon = hiddenField(QStringLiteral("txon"), this);
    m_txoff = hiddenField(QStringLiteral("txoff"), this);

    auto* row = new QHBoxLayout;
    row->addWidget(m_auto);
    row->addWidget(m_on);
    row->addWidget(m_off);
    row->addStretch();
    top->addLayout(row);
}

void ChannelWindow::bindFields()
{
    const auto bindEdit = [this](const QString& field, QLineEdit* e) {
        m_data2->bind(
            field, [e] { return e->text(); }, [e](const QString& v) { e->setText(v); });
    };
    bindEdit(QStringLiteral("Loc%1").arg(m_channel), m_textcapt);
    for (int d = 0; d < 7; ++d)
        bindEdit(store::dayField(m_channel, d), m_dayFlags[d]);
    if (m_channel == 7)
        for (int d = 0; d < 7; ++d)
            bindEdit(QLatin1String(kFinishFieldNames[d]), m_finishFlags[d]);
    bindEdit(store::modeField(m_channel, QStringLiteral("Auto")), m_txauto);
    bindEdit(store::modeField(m_channel, QStringLiteral("Off")), m_txoff);
    bindEdit(store::modeField(m_channel, QStringLiteral("On")), m_txon);
    for (const TimeField& tf : m_timeFields) {
        ui::TimeBox* box = tf.box;
        const QString field = tf.field;
        // A text that is not a time never reaches the record: the binding
        // offers the stored value instead, so a save leaves the field alone.
        m_data2->bind(
            field,
            [this, box, field] {
                const QString text = box->text();
                return tryParseTime(text) ? text : m_data2->value(field);
            },
            [box](const QString& v) { box->setStoredText(v); });
    }
    if (m_pulse && m_pulse->startCounter()) {
        bindEdit(QStringLiteral("PLSESTRT"), m_pulse->startCounter());
        bindEdit(QStringLiteral("PLSESTP"), m_pulse->stopCounter());
    }
}

void ChannelWindow::load()
{
    store::Database& db = m_ctx.database;
    const QStringList startTimes = db.listValues(store::kStartTimesTable, store::kStartTimesField);
    const QStringList runTimes = db.listValues(store::kRunTimesTable, store::kRunTimesField);
    for (const TimeField& tf : m_timeFields)
        tf.box->setPresets(tf.box->property("startList").toBool() ? startTimes : runTimes);

    m_data2->refresh();
    // The caption is set once: a location edited later shows at the next start.
    setWindowTitle(QStringLiteral(" %1     ").arg(m_channel) + m_textcapt->text());
    applyStoredFlags();
    if (m_pulse) m_pulse->reset();
    m_loaded = true;
    m_timer1->start();
}

void ChannelWindow::unload()
{
    m_timer1->stop();
    if (m_pulse) m_pulse->halt();
    if (!m_loaded) return;
    m_loaded = false;
    m_data2->close();
}

QString ChannelWindow::statusText() const
{
    return m_status->text();
}

Cause ChannelWindow::cause() const
{
    return m_pulse && m_pulse->isPulsing() ? Cause::Pulse : m_cause;
}

ChannelControls ChannelWindow::controls() const
{
    ChannelControls c;
    c.channel = m_channel;
    if (m_auto->isChecked())
        c.mode = Mode::Auto;
    else if (m_on->isChecked())
        c.mode = Mode::On;
    else if (m_off->isChecked())
        c.mode = Mode::Off;
    for (int d = 0; d < 7; ++d) {
        c.days[d] = m_days[d]->isChecked();
        if (m_finishDays[d]) c.finishDays[d] = m_finishDays[d]->isChecked();
    }
    for (const ui::TimeBox* b : m_startBoxes)
        c.starts << b->tickText();
    for (const ui::TimeBox* b : m_runBoxes)
        c.runs << b->tickText();
    return c;
}

void ChannelWindow::tick()
{
    if (m_pulse && m_pulse->isPulsing()) return;
    ui::guarded(m_errors, [this] {
        // The evaluation writes step by step; whatever it reached before a
        // failure is what the status keeps (the last result for a bad time text).
        QString status = m_status->text();
        Cause cause = m_cause;
        const auto publish = [&] {
            m_publishing = true;
            if (m_status->text() != status) m_status->setText(status);
            m_publishing = false;
            m_cause = cause;
        };
        try {
            const inputs::OverrideView view =
                m_inputs ? m_inputs->overrideView(m_channel) : inputs::OverrideView{};
            evaluate(controls(), view, m_ctx.clock.now(), status, &cause);
        } catch (...) {
            publish();
            throw;
        }
        publish();
    });
}

void ChannelWindow::rereadRecord()
{
    m_data2->refresh();
    // The toggles follow their re-read flags, so what is shown is what is stored.
    applyStoredFlags();
}

void ChannelWindow::selectMode(ModeOption option)
{
    const QString yes = flagText(true);
    const QString no = flagText(false);
    switch (option) {
    case ModeOption::Auto:
        m_auto->setChecked(true);
        m_txauto->setText(yes);
        m_txon->setText(no);
        m_txoff->setText(no);
        break;
    case ModeOption::Off:
        m_off->setChecked(true);
        m_txoff->setText(yes);
        m_txon->setText(no);
        m_txauto->setText(no);
        break;
    case ModeOption::On:
        m_on->setChecked(true);
        m_txon->setText(yes);
        m_txoff->setText(no);
        m_txauto->setText(no);
        break;
    }
}

void ChannelWindow::applyStoredFlags()
{
    m_modeGroup->setExclusive(false);
    for (QRadioButton* b : {m_auto, m_on, m_off})
        b->setChecked(false);
    m_modeGroup->setExclusive(true);
    if (readFlag(m_txauto))
        selectMode(ModeOption::Auto);
    else if (readFlag(m_txoff))
        selectMode(ModeOption::Off);
    else if (readFlag(m_txon))
        selectMode(ModeOption::On);

    for (int d = 0; d < 7; ++d)
        m_days[d]->setChecked(readFlag(m_dayFlags[d]));
    if (m_channel == 7)
        for (int d = 0; d < 7; ++d)
            m_finishDays[d]->setChecked(readFlag(m_finishFlags[d]));
}

namespace {
Failure refusal(const ui::TimeBox* box, const QString& field)
{
    return Failure(failure::kRefusedTime,
                   QStringLiteral("%1 \"%2\" is not a time hh:mm:ss; %3 was not written")
                       .arg(box->objectName(), box->text(), field));
}
} // namespace

void ChannelWindow::saveBound()
{
    std::optional<Failure> refused;
    for (const TimeField& tf : m_timeFields) {
        const QString text = tf.box->text();
        if (tryParseTime(text)) {
            tf.box->clearChanged();
            tf.box->finishEdit();
        } else if (!refused && text != m_data2->value(tf.field))
            refused = refusal(tf.box, tf.field);
    }
    m_data2->save();
    if (refused) throw *refused;
}

void ChannelWindow::ok()
{
    ui::guarded(m_errors, [this] {
        hide();
        saveBound();
    });
}

void ChannelWindow::validate()
{
    ui::guarded(m_errors, [this] {
        std::optional<Failure> refused;
        for (const TimeField& tf : m_timeFields) {
            if (!tf.box->isChanged()) continue;
            tf.box->clearChanged();
            const QString text = tf.box->text();
            // A refused box does not hold up the boxes after it.
            if (!tryParseTime(text)) {
                if (!refused) refused = refusal(tf.box, tf.field);
                continue;
            }
            m_data2->save();
            m_data2->writeField(tf.field, text);
        }
        // Day and mode flags changed since the last save.
        m_data2->save();
        if (refused) throw *refused;
    });
}

void ChannelWindow::closeEvent(QCloseEvent* e)
{
    // No close box: a window manager's close request does what OK does.
    if (m_loaded && e->spontaneous()) {
        e->ignore();
        ok();
        return;
    }
    QWidget::closeEvent(e);
}

} // namespace kestra::channels
