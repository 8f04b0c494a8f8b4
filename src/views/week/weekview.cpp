#include "views/week/weekview.h"

#include "logic/week/table.h"
#include "views/week/weekchart.h"
#include "views/widgets/messenger.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace kestra::week {

namespace {
constexpr int kPngWidth = 1600;
constexpr int kPngRowHeight = 44;
} // namespace

WeekView::WeekView(const WeekModel& model, std::function<QColor(int)> colour, const QString& title,
                   QWidget* owner)
    : QWidget(owner, Qt::Window), m_model(model), m_title(title),
      m_chart(new WeekChart(model, std::move(colour), this)),
      m_errors(this, title, model::badEntryText, nullptr)
{
    setObjectName(QStringLiteral("frmWeek"));
    setWindowTitle(QStringLiteral("%1 - Week").arg(title));
    connect(m_chart, &WeekChart::channelClicked, this, &WeekView::openChannel);

    auto* legend = new QLabel(
        QStringLiteral(
            "Red: ON by schedule and mode. Stripes: pulsing. Hatched: an input 3 hold, or frozen "
            "by a time text that does not convert. Hatched orange: a day without the sunrise or "
            "sunset a switching needs, which it then leaves out. Inputs are not foreseen. Click a row "
            "to open its output."),
        this);
    legend->setObjectName(QStringLiteral("lblLegend"));
    legend->setWordWrap(true);

    const auto button = [this](const QString& name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        return b;
    };
    QPushButton* png = button(QStringLiteral("cmdPng"), QStringLiteral("Save as &PNG..."));
    QPushButton* csv = button(QStringLiteral("cmdCsv"), QStringLiteral("Save as &CSV..."));
    QPushButton* close = button(QStringLiteral("cmdClose"), QStringLiteral("Close"));
    connect(png, &QPushButton::clicked, this, [this] {
        save(QStringLiteral("PNG picture (*.png)"), QStringLiteral(".png"), &WeekView::savePng);
    });
    connect(csv, &QPushButton::clicked, this, [this] {
        save(QStringLiteral("CSV table (*.csv)"), QStringLiteral(".csv"), &WeekView::saveCsv);
    });
    connect(close, &QPushButton::clicked, this, &QWidget::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(png);
    buttons->addWidget(csv);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_chart, 1);
    top->addWidget(legend);
    top->addLayout(buttons);
}

void WeekView::save(const QString& filter, const QString& suffix,
                    bool (WeekView::*writer)(const QString&, QString*) const)
{
    model::guarded(m_errors, [&] {
        QString path = QFileDialog::getSaveFileName(this, windowTitle(), QDir::homePath(), filter);
        if (path.isEmpty()) return;
        if (!path.endsWith(suffix, Qt::CaseInsensitive)) path += suffix;
        QString error;
        if (!(this->*writer)(path, &error))
            ui::messenger().notice(this, m_title,
                                   QStringLiteral("The week was not saved to %1:\n%2").arg(path, error));
    });
}

QRect WeekView::pngChartArea() const
{
    const int title = m_chart->fontMetrics().height() * 2;
    return {0, title, kPngWidth, m_chart->fontMetrics().height() * 3 + 8 * kPngRowHeight};
}

bool WeekView::savePng(const QString& path, QString* error) const
{
    const QRect area = pngChartArea();
    const int title = area.top();
    QImage image(area.width(), area.bottom() + 1, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setFont(m_chart->font());
    p.setPen(Qt::black);
    const QDateTime now = m_model.now();
    p.drawText(QRect(8, 0, kPngWidth - 16, title), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("%1: the week as at %2 %3")
                   .arg(m_title, dayCaption(weekdayNumber(now.date()) - 1),
                        QLocale::c().toString(now, QStringLiteral("d MMM yyyy hh:mm:ss"))));
    m_chart->paint(p, area);
    p.end();

    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit()) return true;
    if (error) *error = file.errorString();
    return false;
}

bool WeekView::saveCsv(const QString& path, QString* error) const
{
    std::vector<ChannelPicture> pictures;
    for (int m = 1; m <= 8; ++m)
        pictures.push_back(m_model.picture(m));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(weekCsv(pictures, m_chart->firstDay()).toUtf8()) >= 0 &&
        file.commit())
        return true;
    if (error) *error = file.errorString();
    return false;
}

} // namespace kestra::week
