#pragma once

#include "logic/history/hours.h"

#include <QWidget>
#include <array>

namespace kestra::history {

// One day of the eight outputs, a row each from 00:00 to 24:00 with the ON
// stretches filled, like a row of a week picture.
class Timeline : public QWidget
{
    Q_OBJECT
public:
    explicit Timeline(QWidget* parent = nullptr);

    // [from, to) is the day; the history knows [knownFrom, knownTo) of it:
    // from its first record (or the day's start) to now (or the day's end).
    void setDay(qint64 from, qint64 to, qint64 knownFrom, qint64 knownTo,
                const std::array<QList<Stretch>, 8>& on);
    const std::array<QList<Stretch>, 8>& stretches() const { return m_on; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    qint64 m_from = 0, m_to = 1, m_knownFrom = 0, m_knownTo = 0;
    std::array<QList<Stretch>, 8> m_on;
};

} // namespace kestra::history
