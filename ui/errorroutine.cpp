#include "ui/errorroutine.h"

#include "ui/messenger.h"

#include <QDebug>
#include <QWidget>
#include <exception>

namespace kestra::ui {

namespace {
QString g_lastDatabaseProblem; // shared: nine windows failing one save tell it once
bool g_quiet = false;
} // namespace

void ErrorRoutine::setQuiet(bool quiet)
{
    g_quiet = quiet;
}

QString badEntryText(const Failure& f)
{
    return kTimeFormatMessage +
           QStringLiteral("\nError Number: %1\nError Description: %2").arg(f.number).arg(f.description);
}

ErrorRoutine::ErrorRoutine(QWidget* window, QString title, Compose compose, std::function<void()> reread)
    : m_window(window), m_title(std::move(title)), m_compose(std::move(compose)), m_reread(std::move(reread))
{}

void ErrorRoutine::run(const Failure& f)
{
    if (!f.pending()) {
        if (!m_showing) m_lastShown.clear();
        return;
    }
    if (g_quiet) {
        qWarning().noquote() << f.number << f.description;
        return;
    }
    if (failure::isBadEntry(f.number)) {
        if (m_showing || f.description == m_lastShown) return;
        m_showing = true;
        m_lastShown = f.description;
        messenger().modal(m_window, m_title, m_compose(f));
        try {
            if (m_reread) m_reread();
        } catch (...) {
            // A re-read that fails leaves the controls as they are; the next tick tries again.
        }
        m_showing = false;
        return;
    }
    if (f.number == failure::kDatabase) {
        if (f.description == g_lastDatabaseProblem) return;
        g_lastDatabaseProblem = f.description;
        qWarning().noquote() << f.description;
        messenger().notice(m_window, m_title,
                           QStringLiteral("The settings could not be saved.\n%1").arg(f.description));
    }
}

void guarded(ErrorRoutine& routine, const std::function<void()>& handler)
{
    Failure pending;
    try {
        handler();
    } catch (const Failure& f) {
        pending = f;
    } catch (const std::exception& e) {
        pending = Failure(failure::kInternal, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        pending = Failure(failure::kInternal, QStringLiteral("unexpected failure"));
    }
    try {
        routine.run(pending);
    } catch (...) {
        qWarning() << "error routine failed";
    }
}

} // namespace kestra::ui
