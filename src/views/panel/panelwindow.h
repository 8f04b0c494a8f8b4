#pragma once

#include "base/buildconfig.h"
#include "views/panel/polarity.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>

class QCheckBox;
class QLabel;

namespace kestra::panel {

// frmPanel: the simulated port of one build as a board of lamps and switches.
// It reads the port file afresh on every poll and writes only the status byte.
class PanelWindow : public QWidget
{
    Q_OBJECT
public:
    explicit PanelWindow(const BuildConfig& build, QWidget* parent = nullptr);

    // One poll: re-reads the three bytes and, when the database changed, the polarity.
    void refresh();
    QTimer& pollTimer() { return m_poll; }
    const QString& portPath() const { return m_portPath; }

private:
    struct Bytes
    {
        quint8 data, status, control;
    };
    std::optional<Bytes> readPort(QString* problem) const;
    void refreshPolarity();
    void switchClicked(int input);
    void showPort(const std::optional<Bytes>& bytes, const QString& problem);

    BuildConfig m_build;
    QString m_portPath;
    QString m_databasePath;
    QTimer m_poll;

    PolarityReading m_polarity;
    QDateTime m_databaseStamp;
    qint64 m_databaseSize = -1;
    QElapsedTimer m_sincePolarityRead;

    QLabel* m_file = nullptr;
    QLabel* m_data = nullptr;
    QLabel* m_polarityLine = nullptr;
    QLabel* m_control = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_problem = nullptr;
    std::array<QLabel*, 8> m_locations{};
    std::array<QLabel*, 8> m_lamps{};
    std::array<QLabel*, 8> m_levels{};
    std::array<QLabel*, 8> m_states{};
    std::array<QCheckBox*, 5> m_switches{};
};

} // namespace kestra::panel
