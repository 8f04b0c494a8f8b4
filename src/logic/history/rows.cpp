#include "logic/history/rows.h"


#include <QDateTime>

namespace kestra::history {

namespace {
QString onOff(bool on)
{
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

QString csvField(const QString& s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}
} // namespace

QList<Row> rowsOf(const QList<PortRecord>& ports, const QList<InputRecord>& inputs, Show show, int limit)
{
    QList<Row> out;
    auto p = ports.cbegin();
    auto i = inputs.cbegin();
    const bool wantPorts = show.input == 0;
    const bool wantInputs = show.output == 0;
    while (out.size() < limit) {
        const bool havePort = wantPorts && p != ports.cend();
        const bool haveInput = wantInputs && i != inputs.cend();
        if (!havePort && !haveInput) break;
        if (havePort && (!haveInput || p->ms >= i->ms)) {
            for (int m = 1; m <= 8 && out.size() < limit; ++m) {
                if (!p->marks(m) || (show.output && show.output != m)) continue;
                out.append(Row{p->ms, QStringLiteral("Output %1").arg(m), onOff(p->isOn(m)),
                               causeName(p->causeOf(m)), p->byte});
            }
            ++p;
        } else {
            for (int n = 1; n <= 5 && out.size() < limit; ++n) {
                if (!i->hasChanged(n) || (show.input && show.input != n)) continue;
                out.append(Row{i->ms, QStringLiteral("Input %1").arg(n), onOff(i->isOn(n)), QString(), -1});
            }
            ++i;
        }
    }
    return out;
}

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString csvOf(const QList<Row>& rows)
{
    QString out = QStringLiteral("time,ms,line,state,cause,byte\n");
    for (const Row& r : rows)
        out += QStringList{timeText(r.ms),    QString::number(r.ms),
                           csvField(r.line),  r.state,
                           csvField(r.cause), r.byte < 0 ? QString() : QString::number(r.byte)}
                   .join(QLatin1Char(',')) +
               QLatin1Char('\n');
    return out;
}

QString hoursText(int output, const Hours& h)
{
    return QStringLiteral("Output %1 was ON today %2, this week %3, this month %4, since %5 %6 (h:mm:ss)")
        .arg(output)
        .arg(formatDuration(h.todayMs), formatDuration(h.weekMs), formatDuration(h.monthMs),
             QDateTime::fromMSecsSinceEpoch(h.resetMs).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
             formatDuration(h.totalMs));
}

} // namespace kestra::history
