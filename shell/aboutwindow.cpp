#include "shell/aboutwindow.h"

#include "common/timetext.h"
#include "store/datasource.h"
#include "ui/naming.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestra::shell {

const QString kTimeFormsText =
    QStringLiteral("Times are typed on the 24-hour clock as hh:mm:ss (07:30:00) or h:mm (7:30 is 07:30:00), "
                   "from 00:00:00 to 23:59:59; a run time is written the same way.");

AboutWindow::AboutWindow(const ui::AppContext& ctx, QWidget* owner)
    : QDialog(owner), m_ctx(ctx), m_data2(std::make_unique<store::DataSource>(ctx.database))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("ABOUT TIMER"));
    auto* layout = new QVBoxLayout(this);
    auto label = [&](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setWordWrap(true);
        layout->addWidget(l);
        return l;
    };
    m_title = label("lblTitle", QString());
    QFont big = m_title->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    m_title->setFont(big);
    m_version = label("lblVersion", QString());
    const QString port = ctx.build.portText();
    label(
        "lblDescription",
        QStringLiteral("A program that enables the computer to use the printer port %1 to control 8 outputs.")
            .arg(port));
    label("lblDisclaimer",
          QStringLiteral("This program is configured for port %1. Program database loaded into %2")
              .arg(port.rightJustified(4, QLatin1Char('0')), ctx.build.databasePath()));
    // Which time forms the time boxes take (the time conversion's own rule).
    label("Label1", kTimeFormsText);
    m_port = label("lblPort", QString());

    m_sport =
        new QCheckBox(QStringLiteral("Check to set output to 5 volts for ON, usually for kits, or uncheck if "
                                     "building own hardware to have 0 volts for ON."),
                      this);
    m_sport->setObjectName(QStringLiteral("sport"));
    m_sport->setToolTip(
        QStringLiteral("When this box is checked ..ON = 5V & OFF = 0V, else ON = 0V & OFF = 5V"));
    ui::nameControl(m_sport, QStringLiteral("Output polarity: 5 volts for ON"));
    layout->addWidget(m_sport);
    connect(m_sport, &QCheckBox::clicked, this,
            [this] { m_txsport->setText(flagText(m_sport->isChecked())); });

    m_txsport = new QLineEdit(this);
    m_txsport->setObjectName(QStringLiteral("txsport"));
    m_txsport->hide();

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    ui::nameControl(ok, QStringLiteral("OK"), QStringLiteral("Close and store the polarity option"));
    layout->addWidget(ok, 0, Qt::AlignRight);
    connect(ok, &QPushButton::clicked, this, &AboutWindow::ok);

    m_data2->bind(
        QStringLiteral("SOURCEPORT"), [this] { return m_txsport->text(); },
        [this](const QString& v) { m_txsport->setText(v); });
    setMinimumWidth(460);
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::load()
{
    m_title->setText(m_ctx.build.title);
    m_version->setText(versionText());
    m_data2->refresh();
    // A text that is not a flag (empty in a hand-made file) reads as unchecked
    // and is stored as "False" with the next save.
    const auto flag = tryParseFlag(m_txsport->text());
    if (!flag) m_txsport->setText(flagText(false));
    m_sport->setChecked(flag.value_or(false));
    m_loaded = true;
}

void AboutWindow::unload()
{
    if (!m_loaded) return;
    m_loaded = false;
    m_data2->close();
}

void AboutWindow::ensureLoaded()
{
    if (!m_loaded) load();
}

bool AboutWindow::fiveVoltsOn() const
{
    return m_sport->isChecked();
}

void AboutWindow::setPortLine(const QString& text)
{
    m_port->setText(text);
}

void AboutWindow::ok()
{
    hide();
    setResult(QDialog::Accepted);
    try {
        unload();
    } catch (const Failure& f) {
        ui::ErrorRoutine(this, m_ctx.build.title, ui::badEntryText, {}).run(f);
    }
    done(QDialog::Accepted);
}

void AboutWindow::reject()
{
    ok();
}

void AboutWindow::closeEvent(QCloseEvent* e)
{
    // The title bar's close box does what OK does.
    e->ignore();
    ok();
}

} // namespace kestra::shell
