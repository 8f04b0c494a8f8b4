#pragma once

#include <QGroupBox>

class QLineEdit;
class QListWidget;

namespace kestra::model {
class Channel;
class Pulse;
} // namespace kestra::model

namespace kestra::channels {

// The pulse controls of channels 1 and 2: the two lists of phase lengths, the
// start and stop buttons, and channel 2's minute counters. The pulse itself
// runs in the channel.
class PulseFrame : public QGroupBox
{
    Q_OBJECT
public:
    PulseFrame(model::Channel& channel, QWidget* parent);

    QListWidget* onList() const { return m_onList; }
    QListWidget* offList() const { return m_offList; }
    // Channel 2's minute counters; null on channel 1.
    QLineEdit* startCounter() const { return m_pstart; }
    QLineEdit* stopCounter() const { return m_pstop; }

private:
    void showPulse();

    model::Channel& m_channel;
    model::Pulse& m_pulse;
    QListWidget* m_onList;
    QListWidget* m_offList;
    QLineEdit* m_pstart = nullptr;
    QLineEdit* m_pstop = nullptr;
};

} // namespace kestra::channels
