#include "views/panel/panelwindow.h"

#include "base/failure.h"
#include "logic/panel/panellogic.h"
#include "platform/port/bits.h"
#include "platform/port/simulated.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <chrono>

namespace kestra::panel {

using namespace std::chrono_literals;

namespace {
// Fast enough to see a pulse of one second, light enough to leave running.
constexpr auto kPollPeriod = 100ms;
// Room for a location of a few words; a longer one is cut, and whole in the tool tip.
constexpr int kLocationWidth = 150;
// A database that could not be read is tried again this often.
constexpr auto kPolarityRetry = 1s;

// The program's own colours: red for ON, green for OFF.
const QString kOnStyle =
    QStringLiteral("background-color: rgb(255, 0, 0); border: 1px solid black; border-radius: 9px;");
const QString kOffStyle =
    QStringLiteral("background-color: rgb(0, 255, 0); border: 1px solid black; border-radius: 9px;");
const QString kDarkStyle =
    QStringLiteral("background-color: rgb(160, 160, 160); border: 1px solid black; border-radius: 9px;");

void setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text) label->setText(text);
}

void setStyleIfChanged(QWidget* w, const QString& style)
{
    if (w->styleSheet() != style) w->setStyleSheet(style);
}

QString hexText(quint8 v)
{
    return QStringLiteral("0x") + QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}
} // namespace

PanelWindow::PanelWindow(const BuildConfig& build, QWidget* parent)
    : QWidget(parent), m_build(build), m_portPath(build.simulatedPortPath()),
      m_databasePath(build.databasePath())
{
    setObjectName(QStringLiteral("frmPanel"));
    setWindowTitle(QStringLiteral("%1 virtual port %2").arg(build.title, build.portText()));
    auto* layout = new QVBoxLayout(this);
    auto label = [this](const QString& name, QWidget* parent) {
        auto* l = new QLabel(parent ? parent : this);
        l->setObjectName(name);
        return l;
    };

    m_file = label(QStringLiteral("lblFile"), this);
    m_file->setWordWrap(true);
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_file);
    m_problem = label(QStringLiteral("lblProblem"), this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: rgb(192, 0, 0);"));
    layout->addWidget(m_problem);

    auto* outputs = new QGroupBox(QStringLiteral("Outputs (data register, offset 0)"), this);
    auto* grid = new QGridLayout(outputs);
    for (int m = 1; m <= 8; ++m) {
        grid->addWidget(new QLabel(QStringLiteral("Output %1").arg(m), outputs), m - 1, 0);
        // Where the output is, as the program's main window names it.
        m_locations[m - 1] = label(QStringLiteral("Location%1").arg(m), outputs);
        m_locations[m - 1]->setFixedWidth(kLocationWidth);
        grid->addWidget(m_locations[m - 1], m - 1, 1);
        m_lamps[m - 1] = label(QStringLiteral("Lamp%1").arg(m), outputs);
        m_lamps[m - 1]->setFixedSize(18, 18);
        grid->addWidget(m_lamps[m - 1], m - 1, 2);
        m_levels[m - 1] = label(QStringLiteral("Level%1").arg(m), outputs);
        grid->addWidget(m_levels[m - 1], m - 1, 3);
        m_states[m - 1] = label(QStringLiteral("State%1").arg(m), outputs);
        grid->addWidget(m_states[m - 1], m - 1, 4);
    }
    grid->setColumnStretch(5, 1);
    m_data = label(QStringLiteral("lblData"), outputs);
    grid->addWidget(m_data, 8, 0, 1, 5);
    // One line that sizes the window: a wrapped label got the height of one line
    // in a top-level window and was cut off.
    m_polarityLine = label(QStringLiteral("lblPolarity"), outputs);
    grid->addWidget(m_polarityLine, 9, 0, 1, 5);
    layout->addWidget(outputs);

    auto* control = new QGroupBox(QStringLiteral("Control register (offset 2)"), this);
    auto* controlLayout = new QVBoxLayout(control);
    m_control = label(QStringLiteral("lblControl"), control);
    controlLayout->addWidget(m_control);
    layout->addWidget(control);

    auto* inputs =
        new QGroupBox(QStringLiteral("Inputs (status register, offset 1): tick to pull the pin low"), this);
    auto* inputsLayout = new QVBoxLayout(inputs);
    for (int n = 1; n <= 5; ++n) {
        auto* box = new QCheckBox(QStringLiteral("Input %1 (%2)").arg(n).arg(inputPinText(n)), inputs);
        box->setObjectName(QStringLiteral("Input%1").arg(n));
        box->setToolTip(
            QStringLiteral("Ticked: the pin is held low and the program reads INPUT %1 ON").arg(n));
        connect(box, &QCheckBox::clicked, this, [this, n] { switchClicked(n); });
        inputsLayout->addWidget(box);
        m_switches[n - 1] = box;
    }
    m_status = label(QStringLiteral("lblStatus"), inputs);
    inputsLayout->addWidget(m_status);
    layout->addWidget(inputs);

    m_poll.setObjectName(QStringLiteral("Timer1"));
    m_poll.setInterval(kPollPeriod);
    connect(&m_poll, &QTimer::timeout, this, &PanelWindow::refresh);
    refresh();
    m_poll.start();
}

std::optional<PanelWindow::Bytes> PanelWindow::readPort(QString* problem) const
{
    const port::SimulatedPortFile file(m_portPath);
    if (file.shape() == port::SimulatedPortFile::Shape::Missing) {
        *problem = QStringLiteral("The port file does not exist yet. Start %1; it creates the file when it "
                                  "finds no printer port at %2.")
                       .arg(m_build.title.toLower(), m_build.portText());
        return std::nullopt;
    }
    // Never waits on a FIFO or a device, and never reads a file with holes.
    try {
        const auto b = file.readAll();
        return Bytes{b[0], b[1], b[2]};
    } catch (const Failure& f) {
        *problem = QStringLiteral("Cannot read the port file: %1").arg(f.description);
        return std::nullopt;
    }
}

void PanelWindow::refresh()
{
    refreshPolarity();
    QString problem;
    const auto bytes = readPort(&problem);
    showPort(bytes, problem);
}

void PanelWindow::refreshPolarity()
{
    const QFileInfo info(m_databasePath);
    const QDateTime stamp = info.exists() ? info.lastModified() : QDateTime();
    const qint64 size = info.exists() ? info.size() : -1;
    const bool changed = stamp != m_databaseStamp || size != m_databaseSize;
    const bool retry =
        !m_polarity.readable && (!m_sincePolarityRead.isValid() ||
                                 std::chrono::milliseconds(m_sincePolarityRead.elapsed()) >= kPolarityRetry);
    if (!changed && !retry) return;
    m_sincePolarityRead.start();
    const PolarityReading reading = readPolarity(m_databasePath);
    if (reading.readable || !m_polarity.readable) {
        m_polarity = reading;
        m_databaseStamp = stamp;
        m_databaseSize = size;
    } else {
        // Busy for a moment: keep what was read last and try again at the next poll.
        m_polarity.note = QStringLiteral("(last value read; now: %1)").arg(reading.note);
    }
}

void PanelWindow::showPort(const std::optional<Bytes>& bytes, const QString& problem)
{
    setTextIfChanged(m_file, QStringLiteral("Port %1: %2").arg(m_build.portText(), m_portPath));
    setTextIfChanged(m_problem, problem);
    m_problem->setVisible(!problem.isEmpty());

    const bool fiveVolts = m_polarity.fiveVoltsOn;
    QString polarity = fiveVolts ? QStringLiteral("Polarity option (SOURCEPORT) True: 5 V is ON")
                                 : QStringLiteral("Polarity option (SOURCEPORT) False: 0 V is ON");
    if (!m_polarity.readable)
        polarity = QStringLiteral("Polarity option unknown, shown as unchecked (0 V is ON): %1")
                       .arg(m_polarity.note);
    else if (!m_polarity.note.isEmpty())
        polarity += QStringLiteral(" %1").arg(m_polarity.note);
    setTextIfChanged(m_polarityLine, polarity);
    for (int m = 1; m <= 8; ++m) {
        const QString& location = m_polarity.locations[m - 1];
        setTextIfChanged(m_locations[m - 1], m_locations[m - 1]->fontMetrics().elidedText(
                                                 location, Qt::ElideRight, kLocationWidth));
        if (m_locations[m - 1]->toolTip() != location) m_locations[m - 1]->setToolTip(location);
    }

    for (QCheckBox* box : m_switches)
        box->setEnabled(bytes.has_value());
    if (!bytes) {
        for (int m = 1; m <= 8; ++m) {
            setStyleIfChanged(m_lamps[m - 1], kDarkStyle);
            setTextIfChanged(m_levels[m - 1], QString());
            setTextIfChanged(m_states[m - 1], QString());
        }
        setTextIfChanged(m_data, QStringLiteral("Data: -"));
        setTextIfChanged(m_control, QStringLiteral("Control: -"));
        setTextIfChanged(m_status, QStringLiteral("Status: -"));
        return;
    }

    const auto lamps = lampsFor(bytes->data, fiveVolts);
    for (int m = 1; m <= 8; ++m) {
        const Lamp& l = lamps[m - 1];
        setStyleIfChanged(m_lamps[m - 1], l.on ? kOnStyle : kOffStyle);
        setTextIfChanged(m_levels[m - 1], levelText(l.high));
        setTextIfChanged(m_states[m - 1], l.on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    }
    setTextIfChanged(m_data, QStringLiteral("Data: %1 (%2, %3)")
                                 .arg(bytes->data)
                                 .arg(hexText(bytes->data), bitsText(bytes->data)));
    setTextIfChanged(m_control, QStringLiteral("Control: %1 (%2): %3")
                                    .arg(bytes->control)
                                    .arg(hexText(bytes->control), controlMeaning(bytes->control)));
    setTextIfChanged(m_status, QStringLiteral("Status: %1 (%2, %3)")
                                   .arg(bytes->status)
                                   .arg(hexText(bytes->status), bitsText(bytes->status)));
    // Another tool may set the inputs too: the switches show the file, not the last click.
    const auto inputs = port::decodeInputs(bytes->status);
    for (int n = 1; n <= 5; ++n)
        if (m_switches[n - 1]->isChecked() != inputs[n - 1]) m_switches[n - 1]->setChecked(inputs[n - 1]);
}

void PanelWindow::switchClicked(int input)
{
    QString problem;
    const auto bytes = readPort(&problem);
    if (bytes) {
        // Start from the byte in the file, not from the switches, so that an input
        // another tool set a moment ago is kept. Bits 2..0 are not inputs: left alone.
        auto inputs = port::decodeInputs(bytes->status);
        inputs[input - 1] = m_switches[input - 1]->isChecked();
        const quint8 status = quint8((bytes->status & 0x07) | port::encodeInputs(inputs));
        try {
            port::SimulatedPortFile(m_portPath).write(1, status);
        } catch (const Failure& f) {
            problem = f.description;
        }
    }
    refreshPolarity();
    showPort(readPort(&problem), problem);
}

} // namespace kestra::panel
