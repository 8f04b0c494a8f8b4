#include "model/errorroutine.h"

#include "model/teller.h"

#include <QDebug>
#include <QHash>
#include <algorithm>
#include <exception>

namespace kestra::model {

namespace {
QString g_lastDatabaseProblem; // shared: nine windows failing one save tell it once
QString g_lastInternalProblem;
bool g_quiet = false;
bool g_boxOpen = false;
// The bad entry each routine's last handler failed with, once it was told (by
// this routine or another). The re-read brings a bad stored text back on every
// tick; it is not told again until the routine has a handler end without a failure.
QHash<const ErrorRoutine*, QString> g_told;
ErrorCapture* g_capture = nullptr;

Failure caught(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Failure& f) {
        return f;
    } catch (const std::exception& e) {
        return Failure(failure::kInternal, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return Failure(failure::kInternal, QStringLiteral("unexpected failure"));
    }
    return {};
}
} // namespace

ErrorCapture::ErrorCapture() : m_outer(g_capture)
{
    g_capture = this;
}

ErrorCapture::~ErrorCapture()
{
    g_capture = m_outer;
}

ErrorCapture* ErrorCapture::current()
{
    return g_capture;
}

void ErrorCapture::take(const Failure& f, const QString& text)
{
    if (!m_failure) m_failure = CapturedFailure{f.number, f.description, text};
}

void ErrorRoutine::setQuiet(bool quiet)
{
    g_quiet = quiet;
}

QString badEntryText(const Failure& f)
{
    return kTimeFormatMessage +
           QStringLiteral("\nError Number: %1\nError Description: %2").arg(f.number).arg(f.description);
}

QString internalText(const Failure& f)
{
    return QStringLiteral("An internal error stopped the last action; what it had changed was undone.\n%1")
        .arg(f.description);
}

ErrorRoutine::ErrorRoutine(QObject* window, QString title, Compose compose, std::function<void()> reread)
    : m_window(window), m_title(std::move(title)), m_compose(std::move(compose)), m_reread(std::move(reread))
{}

ErrorRoutine::~ErrorRoutine()
{
    g_told.remove(this);
}

void ErrorRoutine::run(const Failure& f)
{
    if (!f.pending()) {
        if (!m_showing) g_told.remove(this);
        return;
    }
    if (f.number == failure::kInternal) {
        // Always on standard error, so that a report can name it; the box once per fault.
        qCritical().noquote() << m_title + QStringLiteral(": internal error:") << f.description;
        if (g_quiet || f.description == g_lastInternalProblem) return;
        g_lastInternalProblem = f.description;
        teller().notice(m_window, m_title, internalText(f));
        return;
    }
    if (g_quiet) {
        qWarning().noquote() << f.number << f.description;
        return;
    }
    if (ErrorCapture* capture = ErrorCapture::current()) {
        // The caller is told instead of a box; what follows the box's OK still happens.
        if (failure::isBadEntry(f.number)) {
            capture->take(f, m_compose(f));
            // A re-read under way (after a box or a capture) covers this one too.
            if (g_boxOpen) return;
            g_told.insert(this, f.description);
            m_showing = g_boxOpen = true;
            logged(QStringLiteral("re-read after a bad entry"), [this] {
                if (m_reread) m_reread();
            });
            m_showing = g_boxOpen = false;
        } else if (f.number == failure::kDatabase) {
            qWarning().noquote() << f.description;
            capture->take(f, QStringLiteral("The settings could not be saved.\n%1").arg(f.description));
        } else
            capture->take(f, f.description);
        return;
    }
    if (failure::isBadEntry(f.number)) {
        // Another box is open: this handler runs again at its next tick.
        if (g_boxOpen) return;
        const bool told = std::find(g_told.cbegin(), g_told.cend(), f.description) != g_told.cend();
        g_told.insert(this, f.description);
        if (told) return;
        m_showing = g_boxOpen = true;
        teller().modal(m_window, m_title, m_compose(f));
        // A re-read that fails leaves what is shown; the next tick tries again.
        logged(QStringLiteral("re-read after a bad entry"), [this] {
            if (m_reread) m_reread();
        });
        m_showing = g_boxOpen = false;
        return;
    }
    if (f.number == failure::kDatabase) {
        if (f.description == g_lastDatabaseProblem) return;
        g_lastDatabaseProblem = f.description;
        qWarning().noquote() << f.description;
        teller().notice(m_window, m_title,
                        QStringLiteral("The settings could not be saved.\n%1").arg(f.description));
    }
}

void guarded(ErrorRoutine& routine, const std::function<void()>& handler,
             const std::function<void()>& rollback)
{
    const Failure pending = caught(handler);
    if (pending.number == failure::kInternal && rollback) {
        const Failure undo = caught(rollback);
        if (undo.pending()) qCritical().noquote() << "undoing a failed action failed:" << undo.description;
    }
    const Failure inRoutine = caught([&] { routine.run(pending); });
    if (inRoutine.pending()) qWarning().noquote() << "error routine failed:" << inRoutine.description;
}

void logged(const QString& what, const std::function<void()>& step)
{
    const Failure f = caught(step);
    if (f.pending()) qWarning().noquote() << what + QLatin1Char(':') << f.description;
}

} // namespace kestra::model
