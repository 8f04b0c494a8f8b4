#include "service/service.h"

#include "api/api.h"
#include "web/web.h"
#include "common/filehandles.h"
#include "history/recorder.h"
#include "model/teller.h"
#include "service/homeautomation.h"

#include <QTimer>

namespace kestra::service {

Service::Service(const model::Context& ctx, const QString& historyPath, QObject* parent)
    : QObject(parent), m_model(ctx), m_weekSource(m_model), m_week(m_weekSource, ctx.clock),
      m_recorder(std::make_unique<history::Recorder>(historyPath, ctx.clock, nullptr, false)),
      m_home(std::make_unique<HomeAutomation>(m_model, m_week, *m_recorder)),
      m_api(std::make_unique<api::Api>(
          api::Sources{m_model, m_week, *m_recorder, m_home->link(),
                       [this](int output, channels::Mode mode) { requestMode(output, mode); }}))
{
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
    connect(&m_model, &model::SwitchModel::aboutToUnload, this,
            [this] { m_recorder->setPhase(history::Recorder::Phase::Shutdown); });
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
    openHistory();
    m_started = true;
    refreshWeek();
    m_home->start();
    if (!m_model.isUnloaded()) {
        m_web = std::make_unique<web::Web>(api::Sources{m_model, m_week, *m_recorder, m_home->link(),
                                                        [this](int output, channels::Mode mode) {
                                                            requestMode(output, mode);
                                                        }});
        m_api->setFront(m_web.get());
        m_api->start();
    }
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

void Service::requestMode(int output, channels::Mode mode)
{
    if (output < 1 || output > 8 || m_model.isUnloaded() || !m_model.channel(output).isLoaded()) return;
    m_model.channel(output).commandMode(mode);
}

void Service::refreshWeek()
{
    model::guarded(m_model.errors(), [this] { m_week.refresh(); });
}

void Service::tell(const QString& text)
{
    // Said once the windows are up, without holding anything.
    QTimer::singleShot(0, this,
                       [this, text] { model::teller().notice(m_window, m_model.build().title, text); });
}

} // namespace kestra::service
