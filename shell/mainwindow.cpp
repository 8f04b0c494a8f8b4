#include "shell/mainwindow.h"

#include "channels/channelwindow.h"
#include "common/paths.h"
#include "inputs/inputswindow.h"
#include "port/bits.h"
#include "shell/aboutwindow.h"
#include "shell/logo.h"
#include "shell/placement.h"
#include "store/datasource.h"
#include "ui/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QUrl>
#include <chrono>

namespace kestra::shell {

using namespace std::chrono_literals;

namespace {
constexpr auto kScanPeriod = 500ms;

// Colours as the program names them: 0x00BBGGRR.
constexpr int kOnColour = 255;    // red
constexpr int kOffColour = 65280; // green

QColor fromBgr(int v)
{
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

void setBackColour(QLineEdit* e, int bgr)
{
    QPalette p = e->palette();
    const QColor c = fromBgr(bgr);
    if (p.color(QPalette::Base) == c) return;
    p.setColor(QPalette::Base, c);
    e->setPalette(p);
}

struct ButtonColour
{
    int r, g, b;
};
constexpr ButtonColour kButtonColours[8] = {{128, 255, 255}, {255, 192, 128}, {0, 0, 192},
                                            {128, 255, 128}, {128, 128, 255}, {255, 128, 128},
                                            {192, 192, 192}, {255, 255, 0}};

// The help page travels inside the program and is put into the program
// directory, so that the link opens a page that exists on this machine.
QUrl helpPageUrl()
{
    const QString path = programDirectory() + QStringLiteral("/help.html");
    QFile source(QStringLiteral(":/kestra/help.html"));
    if (source.open(QIODevice::ReadOnly)) {
        const QByteArray page = source.readAll();
        QFile target(path);
        if (!target.exists() || (target.open(QIODevice::ReadOnly) && target.readAll() != page)) {
            target.close();
            if (target.open(QIODevice::WriteOnly | QIODevice::Truncate)) target.write(page);
        }
    }
    return QUrl::fromLocalFile(path);
}
// The panel sits beside the program when installed, and in its own folder of
// the build tree; name it so that the user can start it as shown.
QString panelCommand()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {dir + QStringLiteral("/kestra-panel"), dir + QStringLiteral("/../panel/kestra-panel")})
        if (QFileInfo(candidate).isExecutable()) return QDir::cleanPath(candidate);
    return QStringLiteral("kestra-panel");
}
} // namespace

MainWindow::MainWindow(const ui::AppContext& ctx, QWidget* parent)
    : QMainWindow(parent), m_ctx(ctx), m_data2(std::make_unique<store::DataSource>(ctx.database)),
      m_errors(this, ctx.build.title, ui::badEntryText, [this] { reread(); })
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ctx.build.caption());
    // The scan runs in the same wake-up as the channel ticks, right after them.
    Ticker& ticker = m_ctx.ensureTicker(this);
    buildWidgets();
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(kScanPeriod);
    ticker.attach(&m_timer1, Ticker::Rank::Scan, [this] { scan(); });
    m_prompt.setSingleShot(true);
    m_prompt.setInterval(0);
    connect(&m_prompt, &QTimer::timeout, this, &MainWindow::scan);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildWidgets()
{
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    auto label = [&](const QString& name, const QString& text) {
        auto* l = new QLabel(text, central);
        l->setObjectName(name);
        return l;
    };
    auto field = [&](const QString& name, bool readOnly) {
        auto* e = new QLineEdit(central);
        e->setObjectName(name);
        e->setReadOnly(readOnly);
        return e;
    };

    grid->addWidget(label(QStringLiteral("Label10"), QStringLiteral("OUTPUTS")), 0, 0, 1, 2);
    grid->addWidget(label(QStringLiteral("Label1"), QStringLiteral("Location")), 0, 2);
    for (int m = 1; m <= 8; ++m) {
        grid->addWidget(label(QStringLiteral("Label%1").arg(m + 1), QString::number(m)), m, 0);
        auto* button = new QPushButton(QString::number(m), central);
        button->setObjectName(QStringLiteral("Output%1").arg(m));
        button->setToolTip(m == 6 ? QStringLiteral("Set  6 Time") : QStringLiteral("Set %1 Time").arg(m));
        const ButtonColour c = kButtonColours[m - 1];
        button->setStyleSheet(
            QStringLiteral("background-color: rgb(%1, %2, %3);").arg(c.r).arg(c.g).arg(c.b));
        connect(button, &QPushButton::clicked, this, [this, m] { showChannel(m); });
        grid->addWidget(button, m, 1);
        QLineEdit* loc = field(QStringLiteral("Text%1").arg(m), false);
        grid->addWidget(loc, m, 2);
        m_data2->bind(
            QStringLiteral("Loc%1").arg(m), [loc] { return loc->text(); },
            [loc](const QString& v) { loc->setText(v); });
        m_status[m - 1] = field(QStringLiteral("Status%1").arg(m), true);
        m_status[m - 1]->setMaximumWidth(60);
        grid->addWidget(m_status[m - 1], m, 3);
    }
    for (int n = 1; n <= 5; ++n) {
        m_inputTexts[n - 1] = field(QStringLiteral("INPUT%1").arg(n), true);
        m_inputTexts[n - 1]->setText(QStringLiteral("calculating"));
        grid->addWidget(m_inputTexts[n - 1], 9 + n, 0, 1, 2);
        QLineEdit* loc = field(QStringLiteral("Text%1").arg(n + 8), false);
        grid->addWidget(loc, 9 + n, 2);
        m_data2->bind(
            QStringLiteral("Loc%1").arg(n + 8), [loc] { return loc->text(); },
            [loc](const QString& v) { loc->setText(v); });
    }
    auto* inputs = new QPushButton(QStringLiteral("Inputs"), central);
    inputs->setObjectName(QStringLiteral("INPUTS"));
    inputs->setToolTip(QStringLiteral("Select Inputs"));
    connect(inputs, &QPushButton::clicked, this, &MainWindow::showInputs);
    grid->addWidget(inputs, 15, 0, 1, 2);

    auto* logo = new Logo(*m_ctx.ticker, central);
    grid->addWidget(logo, 15, 3, 2, 1, Qt::AlignRight);
    const QUrl help = helpPageUrl();
    auto* link = label(QStringLiteral("hyperlink"),
                       QStringLiteral("<a href=\"%1\">%2</a>")
                           .arg(help.toString(QUrl::FullyEncoded), help.toString().toHtmlEscaped()));
    link->setTextFormat(Qt::RichText);
    link->setWordWrap(true);
    link->setToolTip(QStringLiteral("Open the help page"));
    connect(link, &QLabel::linkActivated, this,
            [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    grid->addWidget(link, 16, 0, 1, 3);

    m_output9 = field(QStringLiteral("Output9"), true);
    m_output9->hide();
    m_data2->bind(
        QStringLiteral("output"), [this] { return m_output9->text(); },
        [this](const QString& v) { m_output9->setText(v); });
    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("mnuHelp"));
    QAction* about = helpMenu->addAction(QStringLiteral("&About Timer Settings..."));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);

    m_portLabel = new QLabel(this);
    m_portLabel->setObjectName(QStringLiteral("lblPort"));
    statusBar()->addWidget(m_portLabel, 1);
}

void MainWindow::load()
{
    ui::ErrorRoutine::setQuiet(false);
    m_inputs = new inputs::InputsWindow(m_ctx, this);
    for (int m = 1; m <= 8; ++m)
        m_channels[m - 1] = new channels::ChannelWindow(m_ctx, m, m_inputs, this);
    m_about = new AboutWindow(m_ctx, this);
    for (int m = 1; m <= 8; ++m)
        if (auto* status = m_channels[m - 1]->findChild<QLineEdit*>(QStringLiteral("Status%1").arg(m)))
            connect(status, &QLineEdit::textChanged, this, [this] {
                if (m_timer1.isActive()) m_prompt.start();
            });

    ui::guarded(m_errors, [&] {
        for (channels::ChannelWindow* w : m_channels)
            w->load();
        m_inputs->load();
        m_about->load();

        const Placement p = readPlacement(m_ctx.build.title);
        move(ui::twipsToPixels(int(p.left), this), ui::twipsToPixels(int(p.top), this));
        resize(ui::twipsToPixels(int(p.width), this), ui::twipsToPixels(int(p.height), this));

        m_data2->refresh();
        m_ctx.port.writeControl(2);
        // An output byte that is not a number from 0 to 255 tells nothing about
        // the relays: write nothing now and let the first scan set them.
        bool ok = false;
        const int stored = m_output9->text().trimmed().toInt(&ok);
        if (ok && stored >= 0 && stored <= 255) m_ctx.port.writeData(quint8(stored));
    });
    m_timer1.start();
    updatePortLine();
}

void MainWindow::scan()
{
    // This scan sees every state published so far.
    m_prompt.stop();
    ui::guarded(m_errors, [&] {
        for (int n = 1; n <= 5; ++n)
            m_inputTexts[n - 1]->setText(m_inputs->inputText(n));
        std::array<bool, 8> on{};
        for (int m = 1; m <= 8; ++m) {
            on[m - 1] = m_channels[m - 1]->statusText() == QLatin1String("ON");
            m_status[m - 1]->setText(on[m - 1] ? QStringLiteral("ON") : QStringLiteral("OFF"));
            setBackColour(m_status[m - 1], on[m - 1] ? kOnColour : kOffColour);
        }
        m_about->ensureLoaded();
        const quint8 byte = port::composeOutputByte(on, m_about->fiveVoltsOn());
        bool ok = false;
        const int last = m_output9->text().trimmed().toInt(&ok);
        if (ok && last == byte) return;
        // Output9 takes the new byte only once it is on the port, so a write that
        // failed is tried again by the next scan.
        try {
            m_ctx.port.writeData(byte);
        } catch (const Failure& f) {
            m_portProblem = f.description;
            updatePortLine();
            throw;
        }
        m_output9->setText(QString::number(byte));
        if (!m_portProblem.isEmpty()) {
            m_portProblem.clear();
            updatePortLine();
        }
    });
}

QString MainWindow::portLine() const
{
    QString line = m_ctx.port.description();
    if (line.isEmpty()) line = QStringLiteral("Port %1: not used yet").arg(m_ctx.build.portText());
    if (!m_portProblem.isEmpty() && !line.contains(m_portProblem))
        line += QStringLiteral(" (last write failed: %1)").arg(m_portProblem);
    if (m_ctx.port.kind() == port::BackendKind::Simulated)
        line += QStringLiteral(". To see the outputs and set the inputs, start: %1 %2")
                    .arg(panelCommand(), m_ctx.build.portText());
    return line;
}

void MainWindow::updatePortLine()
{
    const QString line = portLine();
    if (m_portLabel->text() != line) m_portLabel->setText(line);
    if (m_about) m_about->setPortLine(line);
}

void MainWindow::showChannel(int channel)
{
    QWidget* w = m_channels.at(channel - 1);
    w->show();
    w->raise();
    w->activateWindow();
}

void MainWindow::showInputs()
{
    m_inputs->show();
    m_inputs->raise();
    m_inputs->activateWindow();
}

void MainWindow::showAbout()
{
    ui::guarded(m_errors, [&] {
        m_about->ensureLoaded();
        m_about->exec();
    });
}

void MainWindow::reread()
{
    try {
        m_inputs->rereadRecord();
    } catch (...) {
    }
    try {
        m_data2->refresh();
    } catch (...) {
    }
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    if (!m_unloaded) {
        m_unloaded = true;
        unload();
    }
    e->accept();
    QCoreApplication::quit();
}

void MainWindow::unload()
{
    m_timer1.stop();
    m_prompt.stop();
    ui::ErrorRoutine::setQuiet(true);
    // Leave every relay OFF under the polarity in force, whatever happens next.
    const bool fiveVolts = m_about && m_about->fiveVoltsOn();
    try {
        m_ctx.port.writeData(port::allOffByte(fiveVolts));
    } catch (const Failure& f) {
        qWarning().noquote() << f.description;
    }
    try {
        m_ctx.port.writeControl(0);
    } catch (const Failure& f) {
        qWarning().noquote() << f.description;
    }
    auto unloadOne = [](auto&& action) {
        try {
            action();
        } catch (const Failure& f) {
            qWarning().noquote() << f.description;
        } catch (const std::exception& e) {
            qWarning() << e.what();
        }
    };
    if (m_about) unloadOne([&] { m_about->unload(); });
    if (m_inputs) unloadOne([&] { m_inputs->unload(); });
    for (int m = 8; m >= 1; --m)
        if (m_channels[m - 1]) unloadOne([&] { m_channels[m - 1]->unload(); });
    unloadOne([&] { m_data2->close(); });

    if (!isMinimized()) {
        const QPoint pos = this->pos();
        const QSize size = this->size();
        writePlacement(m_ctx.build.title,
                       {double(ui::pixelsToTwips(pos.x(), this)), double(ui::pixelsToTwips(pos.y(), this)),
                        double(ui::pixelsToTwips(size.width(), this)),
                        double(ui::pixelsToTwips(size.height(), this))});
    }
}

} // namespace kestra::shell
