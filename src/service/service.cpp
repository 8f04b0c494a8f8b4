#include "service/service.h"

#include "base/filehandles.h"
#include "model/errorroutine.h"
#include "model/recorder.h"
#include "model/teller.h"
#include "service/api/api.h"
#include "service/homeautomation.h"
#include "service/web/web.h"
#include "storage/store/database.h"

#include <QTimer>
#include <algorithm>
#include <vector>

namespace kestra::service {

Service::Service(const model::Context& ctx, const QString& historyPath, QObject* parent)
    : QObject(parent), m_model(ctx), m_weekSource(m_model), m_week(m_weekSource, ctx.clock),
      m_recorder(std::make_unique<history::Recorder>(historyPath, ctx.clock, nullptr, false)),
      m_home(std::make_unique<HomeAutomation>(
          m_model, m_week, *m_recorder,
          [this](int output, channels::Mode mode) { requestMode(output, mode); })),
      m_api(std::make_unique<api::Api>(
          api::Sources{m_model, m_week, *m_recorder, m_home->link(),
                       [this](int output, channels::Mode mode) { requestMode(output, mode); }}))
{
    m_mono.start();
    m_applyTimer.setSingleShot(true);
    m_storeTimer.setSingleShot(true);
    connect(&m_applyTimer, &QTimer::timeout, this, &Service::applyRequested);
    connect(&m_storeTimer, &QTimer::timeout, this, &Service::storeCommanded);
    ctx.port.setObserver(m_recorder.get());
    connect(m_recorder.get(), &history::Recorder::problemFound, this, [this](const QString& reason) {
        tell(QStringLiteral(
                 "The history cannot be written to %1: %2\n\nSwitching goes on as usual. The records "
                 "wait in memory and are written as soon as the file can be used again.")
                 .arg(m_recorder->path(), reason));
    });
    // Only a file that is no history file is worth moving away; a lock or a failing read may pass.
    connect(
        m_recorder.get(), &history::Recorder::notKept, this, [this](const QString& reason, bool unusable) {
            tell(QStringLiteral("The history is not kept in this run: %1\n\nSwitching goes on as usual. %2")
                     .arg(reason, unusable ? QStringLiteral("Move the file away to start a new history.")
                                           : QStringLiteral("The file is tried again at the next start.")));
        });
    connect(m_recorder.get(), &history::Recorder::countFailed, this,
            [this](const QString& reason, bool unusable) {
                tell(QStringLiteral(
                         "The operating hours could not be counted: %1\n\nSwitching and the history go on "
                         "as usual; the hours are counted again at the next start.%2")
                         .arg(reason, unusable
                                          ? QStringLiteral(
                                                " The file is damaged: move it away to start a new history.")
                                          : QString()));
            });
    m_recorder->setSnapshotSource([this] {
        history::Recorder::Snapshot s;
        s.fiveVoltsOn = m_model.fiveVoltsOn();
        for (int m = 1; m <= 8; ++m)
            s.causes[m - 1] = m_model.channel(m).cause();
        return s;
    });
    connect(&m_model, &model::SwitchModel::aboutToUnload, this, [this] {
        m_recorder->setPhase(history::Recorder::Phase::Shutdown);
        // Nothing commanded acts from here on; what was applied is stored by the channels' unload.
        m_ending = true;
        m_requested.fill(std::nullopt);
        m_applyTimer.stop();
        m_storeTimer.stop();
    });
    connect(&m_model, &model::SwitchModel::scanDone, this, &Service::refreshWeek);
}

Service::~Service()
{
    stop();
}

void Service::start(const std::function<void()>& placement)
{
    m_recorder->setPhase(history::Recorder::Phase::StartUp);
    m_model.load(placement);
    m_recorder->setPhase(history::Recorder::Phase::Running);
    // The API comes after the history has opened its files (or found it cannot):
    // with few handles the two would otherwise race for them, and a failure
    // might no longer tell that handles were short.
    connect(m_recorder.get(), &history::Recorder::openTried, this, &Service::startApi, Qt::SingleShotConnection);
    openHistory();
    m_started = true;
    refreshWeek();
    m_home->start();
    if (!m_recorder->isOpening()) startApi();
}

void Service::startApi()
{
    if (!m_started || m_model.isUnloaded() || m_web) return;
    m_web = std::make_unique<web::Web>(api::Sources{m_model, m_week, *m_recorder, m_home->link(),
                                                    [this](int output, channels::Mode mode) {
                                                        requestMode(output, mode);
                                                    }});
    m_api->setFront(m_web.get());
    // The port's handles are not the API's to take.
    FileHandleReserve forThePort(FileHandleReserve::kReserved, 0);
    m_api->start();
}

void Service::stop()
{
    if (!m_started) return;
    m_started = false;
    m_model.unload();
    // The all-OFF states just written go out before "offline".
    m_home->stop();
    m_api->stop();
    m_api->setFront(nullptr);
    m_web.reset();
    m_model.context().port.setObserver(nullptr);
    m_recorder->close();
}

void Service::openHistory()
{
    // The port is driven by now. The history finds its files only with
    // handles to spare for the port and the windows: a few are kept back until
    // it has opened (or given up).
    auto reserve = std::make_shared<FileHandleReserve>();
    connect(
        m_recorder.get(), &history::Recorder::countingEnded, this, [reserve] { reserve->release(); },
        Qt::SingleShotConnection);
    m_recorder->open();
}

void Service::refreshWeek()
{
    model::guarded(m_model.errors(), [this] { m_week.refresh(); });
}

bool Service::requestMode(int output, channels::Mode mode)
{
    if (output < 1 || output > 8 || mode == channels::Mode::None) return false;
    if (!m_started || m_ending || m_model.isUnloaded()) return false;
    m_requested[output - 1] = mode;
    applyRequested();
    return true;
}

void Service::applyRequested()
{
    if (m_ending || m_model.isUnloaded()) return;
    const qint64 now = m_mono.elapsed();
    const qint64 spacing = kCommandSpacing.count();
    std::optional<qint64> nextDue;
    for (int m = 1; m <= 8; ++m) {
        std::optional<channels::Mode>& wanted = m_requested[m - 1];
        if (!wanted) continue;
        const std::optional<qint64> at = m_appliedAt[m - 1];
        if (at && now - *at < spacing) {
            nextDue = std::min(nextDue.value_or(*at + spacing), *at + spacing);
            continue;
        }
        const channels::Mode mode = *wanted;
        wanted.reset();
        model::Channel& channel = m_model.channel(m);
        if (!channel.isLoaded()) continue;
        m_appliedAt[m - 1] = now;
        noteCommandRate(m, now);
        // Shown and evaluated at once; the prompt scan after the new state writes the port.
        channel.commandMode(mode);
        // The channel's handlers may have begun the end.
        if (m_ending) return;
    }
    if (nextDue && (!m_applyTimer.isActive() || m_applyTimer.remainingTime() > *nextDue - now))
        m_applyTimer.start(int(std::max<qint64>(0, *nextDue - now)));
    scheduleStore();
}

void Service::noteCommandRate(int output, qint64 now)
{
    // Commands that keep an output at the spacing's pace for seconds are
    // most likely a loop: outputs whose OutputNTopics command each other.
    constexpr qint64 kWindow = 3000, kSaidEvery = 60000;
    auto& [since, count] = m_commandRate[output - 1];
    if (now - since >= kWindow) {
        since = now;
        count = 0;
    }
    if (++count < kWindow / kCommandSpacing.count() * 2 / 3) return;
    count = 0;
    since = now;
    if (m_rateSaidAt && now - *m_rateSaidAt < kSaidEvery) return;
    m_rateSaidAt = now;
    model::echo(
        m_model.build().title,
        QStringLiteral("Output %1 is commanded several times a second without end; its mode follows at "
                       "most every %2 ms. Do outputs drive each other's command topics?")
            .arg(output)
            .arg(kCommandSpacing.count()));
}

void Service::scheduleStore()
{
    if (m_storeTimer.isActive()) return;
    bool waiting = false;
    for (int m = 1; m <= 8 && !waiting; ++m)
        waiting = !m_model.channel(m).unstoredCommandedMode().empty();
    if (!waiting) return;
    // The ticks come 5 ms after each whole and half second of the wall clock;
    // the write goes in between, at 200 ms past, where even a disk that takes a
    // few hundred milliseconds to flush leaves the next tick alone.
    constexpr qint64 kHalf = 500, kAim = 200;
    const qint64 phase = m_model.context().clock.msecsSinceEpoch() % kHalf;
    m_storeTimer.start(int((kAim - phase + kHalf) % kHalf));
}

void Service::storeCommanded()
{
    if (m_ending || m_model.isUnloaded()) return;
    store::FieldValues all;
    std::vector<std::pair<int, store::FieldValues>> parts;
    for (int m = 1; m <= 8; ++m) {
        store::FieldValues fields = m_model.channel(m).unstoredCommandedMode();
        if (fields.empty()) continue;
        all.insert(all.end(), fields.begin(), fields.end());
        parts.emplace_back(m, std::move(fields));
    }
    if (parts.empty()) return;
    // One transaction for every output commanded since the last store.
    model::Channel& first = m_model.channel(parts.front().first);
    model::guarded(first.errors(), [&] {
        try {
            m_model.context().database.writeSettings(all);
        } catch (...) {
            for (const auto& [m, fields] : parts)
                m_model.channel(m).dropCommandedMode();
            for (size_t i = 1; i < parts.size(); ++i)
                model::logged(QStringLiteral("re-read of channel %1").arg(parts[i].first),
                              [&] { m_model.channel(parts[i].first).reread(); });
            throw;
        }
        for (const auto& [m, fields] : parts)
            m_model.channel(m).commandedModeStored(fields);
    });
}

void Service::tell(const QString& text)
{
    // Said once the windows are up, without holding anything.
    QTimer::singleShot(0, this,
                       [this, text] { model::teller().notice(m_window, m_model.build().title, text); });
}

} // namespace kestra::service
