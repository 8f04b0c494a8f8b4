#include "service/service.h"

#include "history/recorder.h"
#include "model/teller.h"

#include <QTimer>

namespace kestra::service {

Service::Service(const model::Context& ctx, const QString& historyPath, QObject* parent)
    : QObject(parent), m_model(ctx), m_weekSource(m_model), m_week(m_weekSource, ctx.clock),
      m_recorder(std::make_unique<history::Recorder>(historyPath, ctx.clock))
{
    ctx.port.setObserver(m_recorder.get());
    connect(m_recorder.get(), &history::Recorder::problemFound, this, [this](const QString& reason) {
        tell(QStringLiteral(
                 "The history cannot be written to %1: %2\n\nSwitching goes on as usual. The records "
                 "wait in memory and are written as soon as the file can be used again.")
                 .arg(m_recorder->path(), reason));
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
    if (!m_recorder->isOpen())
        tell(QStringLiteral(
                 "The history is not kept in this run: %1\n\nSwitching goes on as usual. Move the file "
                 "away to start a new history.")
                 .arg(m_recorder->problem()));
    m_model.load(placement);
    m_recorder->setPhase(history::Recorder::Phase::Running);
    m_started = true;
    refreshWeek();
}

void Service::stop()
{
    if (!m_started) return;
    m_started = false;
    m_model.unload();
    m_model.context().port.setObserver(nullptr);
    m_recorder->close();
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
