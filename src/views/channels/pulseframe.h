#pragma once

#include <QGroupBox>

class QLineEdit;
class QListWidget;

namespace kestra::channels {

class ChannelSource;

// The pulse controls of channels 1 and 2: the two lists of phase lengths, the
// start and stop buttons, and channel 2's minute counters. The pulse itself
// runs in the channel, here or in the switch the window is attached to.
class PulseFrame : public QGroupBox
{
    Q_OBJECT
public:
    PulseFrame(ChannelSource& channel, QWidget* parent);

    QListWidget* onList() const { return m_onList; }
    QListWidget* offList() const { return m_offList; }
    // Channel 2's minute counters; null on channel 1.
    QLineEdit* startCounter() const { return m_pstart; }
    QLineEdit* stopCounter() const { return m_pstop; }

private:
    void showPulse();

    ChannelSource& m_channel;
    QListWidget* m_onList;
    QListWidget* m_offList;
    QLineEdit* m_pstart = nullptr;
    QLineEdit* m_pstop = nullptr;
    bool m_showing = false;
};

} // namespace kestra::channels
