#include "model/switchmodel.h"

#include "storage/calendar/file.h"

#include "base/ticker.h"
#include "base/timetext.h"
#include "platform/port/bits.h"
#include "storage/store/datasource.h"

#include <QDebug>
#include <chrono>

namespace kestra::model {

using namespace std::chrono_literals;

namespace {
constexpr auto kScanPeriod = 500ms;
} // namespace

SwitchModel::SwitchModel(const Context& ctx, QObject* parent)
    : QObject(parent), m_ctx(ctx), m_ticker(new Ticker(ctx.clock, this)),
      m_record(std::make_unique<store::DataSource>(ctx.database)),
      m_aboutRecord(std::make_unique<store::DataSource>(ctx.database)),
      m_errors(nullptr, ctx.build.title, badEntryText, [this] { reread(); }),
      m_aboutErrors(nullptr, ctx.build.title, badEntryText, {})
{
    setObjectName(QStringLiteral("Switch"));
    m_inputs = new Inputs(ctx, *m_ticker, this);
    for (int m = 1; m <= 8; ++m) {
        m_channels[m - 1] = new Channel(ctx, m, m_inputs, *m_ticker, this);
        connect(m_channels[m - 1], &Channel::stateChanged, this, [this] {
            if (m_scanTimer.isActive()) m_prompt.start();
        });
    }
    // An input that forces outputs acts at once, not at the channels' next tick.
    connect(m_inputs, &Inputs::overrideInputsChanged, this, &SwitchModel::evaluateNow);

    m_scanTimer.setParent(this);
    m_scanTimer.setObjectName(QStringLiteral("Timer1"));
    m_scanTimer.setInterval(kScanPeriod);
    // The scan runs in the same wake-up as the channel ticks, right after them.
    m_ticker->attach(&m_scanTimer, Ticker::Rank::Scan, [this] { scan(); });
    m_prompt.setSingleShot(true);
    m_prompt.setInterval(0);
    connect(&m_prompt, &QTimer::timeout, this, &SwitchModel::scan);

    for (int n = 1; n <= 13; ++n) {
        QString& loc = m_locations[n - 1];
        m_record->bind(
            QStringLiteral("Loc%1").arg(n), [&loc] { return loc; }, [&loc](const QString& v) { loc = v; });
    }
    m_record->bind(
        QStringLiteral("output"), [this] { return m_outputText; },
        [this](const QString& v) { m_outputText = v; });
    m_aboutRecord->bind(
        QStringLiteral("SOURCEPORT"), [this] { return m_sourcePortFlag; },
        [this](const QString& v) { m_sourcePortFlag = v; });
}

SwitchModel::~SwitchModel() = default;

void SwitchModel::load(const std::function<void()>& placement)
{
    ErrorRoutine::setQuiet(false);
    guarded(m_errors, [&] {
        for (Channel* c : m_channels)
            c->load();
        m_inputs->load();
        loadCalendar();
        loadAbout();
        if (placement) placement();

        m_record->refresh();
        emit locationsChanged();
        m_ctx.port.writeControl(2);
        // An output byte that is not a number from 0 to 255 tells nothing about
        // the relays: write nothing now and let the first scan set them.
        bool ok = false;
        const int stored = m_outputText.trimmed().toInt(&ok);
        if (ok && stored >= 0 && stored <= 255) {
            m_wanted = quint8(stored);
            writeOutputByte(quint8(stored));
        }
    });
    m_scanTimer.start();
    notePortNotice();
    emit portChanged();
}

void SwitchModel::loadCalendar()
{
    const calendar::CalendarFile file(calendar::calendarPath(m_ctx.build));
    if (!file.exists()) return;
    try {
        setCalendar(std::make_shared<const calendar::Settings>(file.load()));
        m_calendarProblem.clear();
    } catch (const Failure& f) {
        // The file stays as it is for the user to look at; the described schedules run.
        m_calendarProblem = f.description;
        qWarning("%s: %s", qPrintable(m_ctx.build.title), qPrintable(f.description));
    }
}

calendar::Settings SwitchModel::calendarForEdit() const
{
    if (m_calendar) return *m_calendar;
    return calendar::CalendarFile(calendar::calendarPath(m_ctx.build)).load();
}

void SwitchModel::saveCalendar(const calendar::Settings& s)
{
    calendar::CalendarFile(calendar::calendarPath(m_ctx.build)).save(s);
    m_calendarProblem.clear();
    setCalendar(std::make_shared<const calendar::Settings>(s));
}

void SwitchModel::setCalendar(std::shared_ptr<const calendar::Settings> s)
{
    m_calendar = std::move(s);
    for (Channel* c : m_channels)
        c->setCalendar(m_calendar);
    emit calendarChanged();
}

void SwitchModel::evaluateNow()
{
    if (!m_scanTimer.isActive()) return;
    for (Channel* c : m_channels)
        if (c->tickTimer().isActive()) c->tick();
}

void SwitchModel::scan()
{
    // This scan sees every state published so far.
    m_prompt.stop();
    guarded(m_errors, [&] {
        for (int n = 1; n <= 5; ++n)
            m_shownInputs[n - 1] = m_inputs->level(n);
        ++m_scans;
        for (int m = 1; m <= 8; ++m)
            m_shownOn[m - 1] = m_channels[m - 1]->state() == State::On;
        ensureAboutLoaded();
        const quint8 byte = port::composeOutputByte(m_shownOn, m_fiveVolts);
        m_wanted = byte;
        bool ok = false;
        const int last = m_outputText.trimmed().toInt(&ok);
        if (ok && last == byte && !m_writeFailed) return;
        // Output9 takes the new byte only once it is on the port, so a write that
        // failed is tried again by the next scan.
        writeOutputByte(byte);
        m_outputText = QString::number(byte);
    });
    notePortNotice();
    emit scanDone();
}

void SwitchModel::writeOutputByte(quint8 byte)
{
    const bool failedBefore = m_writeFailed;
    try {
        m_ctx.port.writeData(byte);
    } catch (const Failure&) {
        m_writeFailed = true;
        if (!failedBefore) emit portChanged();
        throw;
    }
    m_writeFailed = false;
    m_held = byte;
    emit outputWritten(byte);
    if (failedBefore) emit portChanged();
}

void SwitchModel::notePortNotice()
{
    const port::Port& p = m_ctx.port;
    if (p.noticeCount() == m_noticesSeen) return;
    m_noticesSeen = p.noticeCount();
    m_portNotice = QStringLiteral("%1 at %2").arg(p.notice(), formatTime(secondsOfDay(m_ctx.clock.now())));
    emit portChanged();
}

port::PortFacts SwitchModel::portFacts() const
{
    const port::Port& p = m_ctx.port;
    port::PortFacts facts;
    facts.portText = m_ctx.build.portText();
    facts.kind = p.kind();
    facts.description = p.description();
    facts.device = p.device();
    facts.writeProblem = m_writeFailed ? p.lastFailure(port::Register::Data) : QString();
    facts.held = m_held;
    facts.wanted = m_wanted;
    facts.readProblem = p.lastFailure(port::Register::Status);
    facts.notice = m_portNotice;
    return facts;
}

std::optional<bool> SwitchModel::drivenOn(int m) const
{
    if (!m_held) return std::nullopt;
    return port::outputsOf(*m_held, m_fiveVolts) & port::outputBit(m);
}

void SwitchModel::editLocation(int n, const QString& text)
{
    QString& loc = m_locations.at(n - 1);
    if (loc == text) return;
    loc = text;
    emit locationEdited(n);
}

void SwitchModel::storeLocation(int n)
{
    const QString field = QStringLiteral("Loc%1").arg(n);
    const QString& text = m_locations.at(n - 1);
    if (m_unloaded || !m_record->isLoaded() || m_record->value(field) == text) return;
    guarded(m_errors, [&] { m_record->writeField(field, text); });
}

void SwitchModel::reread()
{
    logged(QStringLiteral("re-read of the inputs"), [this] { m_inputs->reread(); });
    logged(QStringLiteral("re-read of the main record"), [this] {
        m_record->refresh();
        emit locationsChanged();
    });
}

void SwitchModel::loadAbout()
{
    m_aboutRecord->refresh();
    // A text that is not a flag (empty in a hand-made file) reads as unchecked
    // and is stored as "False" with the next save.
    const auto flag = tryParseFlag(m_sourcePortFlag);
    if (!flag) m_sourcePortFlag = flagText(false);
    const bool was = m_fiveVolts;
    m_fiveVolts = flag.value_or(false);
    m_aboutLoaded = true;
    if (was != m_fiveVolts) emit polarityChanged();
}

void SwitchModel::unloadAbout()
{
    if (!m_aboutLoaded) return;
    m_aboutLoaded = false;
    m_aboutRecord->close();
}

void SwitchModel::ensureAboutLoaded()
{
    if (!m_aboutLoaded) loadAbout();
}

void SwitchModel::prepareAbout()
{
    guarded(m_errors, [this] { ensureAboutLoaded(); });
}

void SwitchModel::aboutOk()
{
    guarded(m_aboutErrors, [this] { unloadAbout(); });
}

void SwitchModel::clickPolarity(bool fiveVolts)
{
    m_sourcePortFlag = flagText(fiveVolts);
    if (m_fiveVolts == fiveVolts) return;
    m_fiveVolts = fiveVolts;
    emit polarityChanged();
}

void SwitchModel::unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    emit aboutToUnload();
    m_scanTimer.stop();
    m_prompt.stop();
    ErrorRoutine::setQuiet(true);
    // Leave every relay OFF under the polarity in force, whatever happens next.
    logged(QStringLiteral("switching the outputs off"), [this] {
        const quint8 off = port::allOffByte(m_fiveVolts);
        m_ctx.port.writeData(off);
        m_held = off;
        emit outputWritten(off);
    });
    logged(QStringLiteral("clearing the control register"), [this] { m_ctx.port.writeControl(0); });
    logged(QStringLiteral("storing the polarity"), [this] { unloadAbout(); });
    logged(QStringLiteral("storing the inputs"), [this] { m_inputs->unload(); });
    for (int m = 8; m >= 1; --m)
        logged(QStringLiteral("storing channel %1").arg(m), [this, m] { m_channels[m - 1]->unload(); });
    logged(QStringLiteral("storing the main record"), [this] { m_record->close(); });
}

} // namespace kestra::model
