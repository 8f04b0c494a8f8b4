#include "model/teller.h"

#include "base/diagnostics.h"

namespace kestra::model {

namespace {

class StandardError final : public Teller
{
public:
    void modal(QObject*, const QString& title, const QString& text) override { echo(title, text); }
    void notice(QObject*, const QString& title, const QString& text) override { echo(title, text); }
};

StandardError g_standardError;
Teller* g_teller = &g_standardError;

} // namespace

Teller& teller()
{
    return *g_teller;
}

void setTeller(Teller* t)
{
    g_teller = t ? t : &g_standardError;
}

void echo(const QString& title, const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QLatin1String("\n  "));
    diagnostics().say(title + QStringLiteral(": ") + lines);
}

} // namespace kestra::model
