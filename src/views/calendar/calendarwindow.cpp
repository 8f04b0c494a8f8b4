#include "views/calendar/calendarwindow.h"

#include "base/failure.h"
#include "base/timetext.h"
#include "logic/calendar/ics.h"
#include "logic/calendar/plan.h"
#include "logic/schedule/schedule.h"
#include "model/switchmodel.h"
#include "views/calendar/calendarsource.h"
#include "views/widgets/messenger.h"
#include "views/widgets/naming.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kestra::calendarview {

using calendar::Anchor;
using calendar::Holiday;

namespace {
const char* const kKindTexts[] = {"clock", "run time", "sunrise", "sunset"};
const char* const kActionTexts[] = {"OFF", "ON", "as on Sunday"};
const QString kCaption = QStringLiteral("Sun, holidays and presence");
enum Column { Name, From, To, EveryYear, Outputs, Action, Columns };

QString outputsText(quint8 outputs)
{
    QStringList out;
    for (int m = 1; m <= 8; ++m)
        if (outputs & (1u << (m - 1))) out << QString::number(m);
    return out.join(QLatin1Char(' '));
}
} // namespace

CalendarWindow::CalendarWindow(model::SwitchModel& model, QWidget* owner)
    : CalendarWindow(*new LocalCalendar(model, nullptr), owner)
{
    m_source.setParent(this);
}

CalendarWindow::CalendarWindow(CalendarSource& source, QWidget* owner)
    : QWidget(owner, Qt::Dialog), m_source(source)
{
    setObjectName(QStringLiteral("frmCalendar"));
    setWindowTitle(kCaption);
    auto* top = new QVBoxLayout(this);

    auto* output = new QGroupBox(QStringLiteral("This output"), this);
    auto* outputLayout = new QVBoxLayout(output);
    m_caption = new QLabel(output);
    m_caption->setObjectName(QStringLiteral("lblCalendarOutput"));
    outputLayout->addWidget(m_caption);
    m_rowsBox = new QWidget(output);
    new QGridLayout(m_rowsBox);
    outputLayout->addWidget(m_rowsBox);
    auto* presenceRow = new QHBoxLayout;
    presenceRow->addWidget(
        new QLabel(QStringLiteral("Presence: shift each switching by up to \u00b1"), output));
    m_presence = new QSpinBox(output);
    m_presence->setObjectName(QStringLiteral("spnPresence"));
    m_presence->setRange(0, calendar::kMaxPresenceMinutes);
    m_presence->setSuffix(QStringLiteral(" min"));
    ui::nameControl(m_presence, QStringLiteral("Presence in minutes"));
    presenceRow->addWidget(m_presence);
    presenceRow->addStretch();
    outputLayout->addLayout(presenceRow);
    m_preview = new QLabel(output);
    m_preview->setObjectName(QStringLiteral("lblCalendarPreview"));
    m_preview->setTextFormat(Qt::PlainText);
    m_preview->setWordWrap(true);
    outputLayout->addWidget(m_preview);
    top->addWidget(output);

    auto* place = new QGroupBox(QStringLiteral("The switch"), this);
    auto* form = new QFormLayout(place);
    auto named = [&](const QString& name, const QString& spoken) {
        auto* e = new QLineEdit(place);
        e->setObjectName(name);
        ui::nameControl(e, spoken);
        return e;
    };
    m_latitude = named(QStringLiteral("txtLatitude"), QStringLiteral("Latitude"));
    m_latitude->setPlaceholderText(QStringLiteral("52.52 (north positive)"));
    m_longitude = named(QStringLiteral("txtLongitude"), QStringLiteral("Longitude"));
    m_longitude->setPlaceholderText(QStringLiteral("13.405 (east positive)"));
    m_placeName = named(QStringLiteral("txtPlaceName"), QStringLiteral("Name of the place"));
    m_twilight = new QComboBox(place);
    m_twilight->setObjectName(QStringLiteral("cboTwilight"));
    ui::nameControl(m_twilight, QStringLiteral("Twilight"));
    m_twilight->addItems({QStringLiteral("official (-0.833\u00b0)"), QStringLiteral("civil (-6\u00b0)"),
                          QStringLiteral("nautical (-12\u00b0)"),
                          QStringLiteral("astronomical (-18\u00b0)")});
    form->addRow(QStringLiteral("Latitude:"), m_latitude);
    form->addRow(QStringLiteral("Longitude:"), m_longitude);
    form->addRow(QStringLiteral("Place:"), m_placeName);
    form->addRow(QStringLiteral("Twilight:"), m_twilight);
    m_holidays = new QTableWidget(0, Columns, place);
    m_holidays->setObjectName(QStringLiteral("lstHolidays"));
    ui::nameControl(m_holidays, QStringLiteral("Holiday periods"));
    m_holidays->setHorizontalHeaderLabels({QStringLiteral("Holiday"), QStringLiteral("From"),
                                           QStringLiteral("To"), QStringLiteral("Every year"),
                                           QStringLiteral("Outputs"), QStringLiteral("Does")});
    m_holidays->horizontalHeader()->setStretchLastSection(true);
    form->addRow(QStringLiteral("Holidays:"), m_holidays);
    auto* holidayButtons = new QHBoxLayout;
    auto button = [&](const QString& name, const QString& text, auto slot) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        ui::nameControl(b, text);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    holidayButtons->addWidget(button(QStringLiteral("btnAddHoliday"), QStringLiteral("Add"), [this] {
        const QDate today = QDate::currentDate();
        m_settings.holidays.push_back({QStringLiteral("holiday"), today, today, false,
                                       quint8(1u << (m_output - 1)), Holiday::Action::Off});
        showHolidays();
    }));
    holidayButtons->addWidget(button(QStringLiteral("btnRemoveHoliday"), QStringLiteral("Remove"), [this] {
        const int row = m_holidays->currentRow();
        if (row < 0 || size_t(row) >= m_settings.holidays.size()) return;
        try {
            m_settings = collect(); // keep edits of the other rows
        } catch (const Failure&) {
        }
        m_settings.holidays.erase(m_settings.holidays.begin() + row);
        showHolidays();
    }));
    holidayButtons->addWidget(
        button(QStringLiteral("btnImportIcs"), QStringLiteral("Import .ics..."), [this] {
            const QString path =
                QFileDialog::getOpenFileName(this, QStringLiteral("Import holidays"), QString(),
                                             QStringLiteral("iCalendar (*.ics);;All files (*)"));
            if (!path.isEmpty()) importIcs(path);
        }));
    holidayButtons->addStretch();
    form->addRow(holidayButtons);
    top->addWidget(place);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(button(QStringLiteral("btnCalendarOk"), QStringLiteral("OK"), [this] { ok(); }));
    bottom->addWidget(
        button(QStringLiteral("btnCalendarCancel"), QStringLiteral("Cancel"), [this] { hide(); }));
    top->addLayout(bottom);

    // A switch that goes away greys the window and keeps what is typed; when
    // it is back, the window shows its settings again unless they are being edited.
    connect(&m_source, &CalendarSource::changed, this, [this] {
        if (!isVisible()) return;
        if (!showReachable()) return;
        if (!isEdited()) showOutput(m_output);
    });
}

bool CalendarWindow::isEdited() const
{
    try {
        return !(collect() == m_shown);
    } catch (const Failure&) {
        return true; // a field that does not read is being typed
    }
}

bool CalendarWindow::showReachable()
{
    const bool live = m_source.isReachable();
    setEnabled(live);
    setWindowTitle(live ? kCaption : kCaption + QStringLiteral(" (the time switch is not running)"));
    return live;
}

void CalendarWindow::showOutput(int m)
{
    m_output = m;
    if (!showReachable()) {
        m_caption->setText(QStringLiteral("Output %1 %2").arg(m).arg(m_source.location(m)));
        return;
    }
    try {
        m_settings = m_source.forEdit();
    } catch (const Failure& f) {
        // A calendar file that cannot be read is left alone; edits start from nothing.
        refuse(f.description);
        m_settings = {};
    }
    m_caption->setText(QStringLiteral("Output %1 %2").arg(m).arg(m_source.location(m)));
    buildRows();
    const calendar::OutputCalendar& oc = m_settings.outputs[m - 1];
    for (size_t k = 0; k < m_rows.size(); ++k) {
        const calendar::SwitchingAnchors a = oc.anchors(int(k));
        for (auto [row, anchor] :
             {std::pair{&m_rows[k].first, a.start}, std::pair{&m_rows[k].second, a.end}}) {
            int index = row->kind->findData(int(anchor.kind));
            row->kind->setCurrentIndex(std::max(index, 0));
            row->offset->setText(anchor.offset ? calendar::offsetText(anchor.offset) : QString());
            row->notBefore->setText(anchor.notBefore ? formatTime(*anchor.notBefore) : QString());
            row->notAfter->setText(anchor.notAfter ? formatTime(*anchor.notAfter) : QString());
        }
    }
    m_presence->setValue(oc.presenceMinutes);
    const calendar::Place& p = m_settings.place;
    m_latitude->setText(p.set ? QString::number(p.latitude, 'f', 4) : QString());
    m_longitude->setText(p.set ? QString::number(p.longitude, 'f', 4) : QString());
    m_placeName->setText(p.name);
    m_twilight->setCurrentIndex(int(m_settings.twilight));
    showHolidays();
    showPreview();
    try {
        m_shown = collect();
    } catch (const Failure&) {
        m_shown = m_settings;
    }
}

void CalendarWindow::buildRows()
{
    auto* grid = static_cast<QGridLayout*>(m_rowsBox->layout());
    while (QLayoutItem* item = grid->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_rows.clear();
    const int n = channels::switchingCount(m_output);
    const QStringList heads = {QString(),
                               QStringLiteral("Start at"),
                               QStringLiteral("offset"),
                               QStringLiteral("not before"),
                               QStringLiteral("not after"),
                               m_output == 7 ? QStringLiteral("Finish at") : QStringLiteral("End at"),
                               QStringLiteral("offset"),
                               QStringLiteral("not before"),
                               QStringLiteral("not after")};
    for (int c = 0; c < heads.size(); ++c)
        grid->addWidget(new QLabel(heads[c], m_rowsBox), 0, c);
    for (int k = 0; k < n; ++k) {
        const QChar letter('a' + k);
        grid->addWidget(new QLabel(QString(letter), m_rowsBox), k + 1, 0);
        auto make = [&](bool start, int column) {
            const QString side = start ? QStringLiteral("Start") : QStringLiteral("End");
            Row r;
            r.kind = new QComboBox(m_rowsBox);
            r.kind->setObjectName(QStringLiteral("cbo%1Anchor%2").arg(side).arg(letter));
            ui::nameControl(r.kind, QStringLiteral("Switching %1, %2 at").arg(letter).arg(side.toLower()));
            for (int kind = 0; kind < 4; ++kind) {
                if (kind == int(Anchor::Kind::Run) && (start || m_output == 7)) continue;
                r.kind->addItem(QLatin1String(kKindTexts[kind]), kind);
            }
            auto edit = [&](const QString& name, const QString& hint, const QString& spoken) {
                auto* e = new QLineEdit(m_rowsBox);
                e->setObjectName(name.arg(side).arg(letter));
                ui::nameControl(
                    e, QStringLiteral("Switching %1, %2 %3").arg(letter).arg(side.toLower(), spoken));
                e->setPlaceholderText(hint);
                e->setMaximumWidth(90);
                return e;
            };
            r.offset =
                edit(QStringLiteral("txt%1Offset%2"), QStringLiteral("-0:15"), QStringLiteral("offset"));
            r.notBefore = edit(QStringLiteral("txt%1NotBefore%2"), QStringLiteral("17:00:00"),
                               QStringLiteral("not before"));
            r.notAfter = edit(QStringLiteral("txt%1NotAfter%2"), QStringLiteral("hh:mm:ss"),
                              QStringLiteral("not after"));
            grid->addWidget(r.kind, k + 1, column);
            grid->addWidget(r.offset, k + 1, column + 1);
            grid->addWidget(r.notBefore, k + 1, column + 2);
            grid->addWidget(r.notAfter, k + 1, column + 3);
            return r;
        };
        m_rows.emplace_back(make(true, 1), make(false, 5));
    }
}

void CalendarWindow::showHolidays()
{
    m_holidays->setRowCount(int(m_settings.holidays.size()));
    for (int r = 0; r < m_holidays->rowCount(); ++r) {
        const Holiday& h = m_settings.holidays[r];
        auto text = [&](int column, const QString& t) {
            m_holidays->setItem(r, column, new QTableWidgetItem(t));
        };
        text(Name, h.name);
        text(From, h.from.toString(Qt::ISODate));
        text(To, h.to.toString(Qt::ISODate));
        auto* every = new QTableWidgetItem;
        every->setCheckState(h.everyYear ? Qt::Checked : Qt::Unchecked);
        m_holidays->setItem(r, EveryYear, every);
        text(Outputs, outputsText(h.outputs));
        auto* action = new QComboBox(m_holidays);
        for (const char* a : kActionTexts)
            action->addItem(QLatin1String(a));
        action->setCurrentIndex(int(h.action));
        m_holidays->setCellWidget(r, Action, action);
    }
}

void CalendarWindow::showPreview()
{
    // Today's switchings of this output as the ticks will make them.
    QStringList lines;
    try {
        const calendar::Settings s = collect();
        const channels::ChannelControls c = m_source.controls(m_output);
        const QDateTime now = QDateTime::currentDateTime();
        const auto plan = calendar::dayPlan(c, channels::convertSwitchings(c), s, now.date(), now.timeZone());
        if (!plan) {
            lines << QStringLiteral("Today: as set in the output's window.");
        } else {
            for (const calendar::Span& sp : plan->on) {
                const auto why = [](calendar::Reason r) {
                    const QString t = calendar::reasonText(r);
                    return t.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(t);
                };
                lines << QStringLiteral("Today ON %1%2 to %3%4")
                             .arg(QDateTime::fromSecsSinceEpoch(sp.from).time().toString(
                                      QStringLiteral("hh:mm:ss")),
                                  why(sp.start),
                                  QDateTime::fromSecsSinceEpoch(sp.to).time().toString(
                                      QStringLiteral("hh:mm:ss")),
                                  why(sp.end));
            }
            if (plan->on.empty()) lines << QStringLiteral("Today: no switching.");
            if (!plan->holiday.isEmpty()) lines << QStringLiteral("Holiday: %1").arg(plan->holiday);
            lines << plan->notes;
        }
    } catch (const Failure& f) {
        lines << f.description;
    }
    m_preview->setText(lines.join(QLatin1Char('\n')));
}

calendar::Settings CalendarWindow::collect() const
{
    calendar::Settings s = m_settings;
    calendar::OutputCalendar& oc = s.outputs[m_output - 1];
    oc.switchings.clear();
    for (size_t k = 0; k < m_rows.size(); ++k) {
        calendar::SwitchingAnchors a;
        const QString letter(QChar('a' + int(k)));
        for (auto [row, anchor, side] : {std::tuple{&m_rows[k].first, &a.start, QStringLiteral("start")},
                                         std::tuple{&m_rows[k].second, &a.end, QStringLiteral("end")}}) {
            const QString where = QStringLiteral("switching %1 %2").arg(letter, side);
            anchor->kind = Anchor::Kind(row->kind->currentData().toInt());
            anchor->offset = calendar::offsetFromText(row->offset->text(), where);
            anchor->notBefore =
                calendar::limitFromText(row->notBefore->text(), where + QStringLiteral(" \"not before\""));
            anchor->notAfter =
                calendar::limitFromText(row->notAfter->text(), where + QStringLiteral(" \"not after\""));
        }
        oc.switchings.push_back(a);
    }
    oc.presenceMinutes = m_presence->value();
    s.place = calendar::placeFromText(m_latitude->text(), m_longitude->text(), m_placeName->text());
    s.twilight = calendar::Twilight(m_twilight->currentIndex());
    for (int r = 0; r < m_holidays->rowCount() && size_t(r) < s.holidays.size(); ++r) {
        Holiday& h = s.holidays[r];
        h.name = m_holidays->item(r, Name)->text();
        h.from = calendar::holidayDateFromText(h.name, m_holidays->item(r, From)->text());
        h.to = calendar::holidayDateFromText(h.name, m_holidays->item(r, To)->text());
        h.everyYear = m_holidays->item(r, EveryYear)->checkState() == Qt::Checked;
        h.outputs = calendar::outputsFromText(h.name, m_holidays->item(r, Outputs)->text());
        h.action =
            Holiday::Action(static_cast<QComboBox*>(m_holidays->cellWidget(r, Action))->currentIndex());
    }
    return s;
}

void CalendarWindow::refuse(const QString& text)
{
    ui::messenger().modal(this, m_source.title(), text);
}

bool CalendarWindow::ok()
{
    calendar::Settings s;
    try {
        s = collect();
    } catch (const Failure& f) {
        refuse(f.description);
        return false;
    }
    m_refused = false;
    QPointer<CalendarWindow> self(this);
    m_source.store(m_shown, s, [self, s](const QString& refusal) {
        if (!self) return;
        if (!refusal.isEmpty()) {
            self->m_refused = true;
            self->refuse(refusal);
            return;
        }
        self->m_settings = s;
        self->m_shown = s;
        self->hide();
    });
    return !m_refused;
}

bool CalendarWindow::importIcs(const QString& path)
{
    try {
        m_settings = collect();
        const auto periods = calendar::importIcsFile(path, quint8(1u << (m_output - 1)), Holiday::Action::Off,
                                                     QDate::currentDate());
        calendar::addImported(m_settings, periods);
    } catch (const Failure& f) {
        refuse(f.description);
        return false;
    }
    showHolidays();
    showPreview();
    return true;
}

} // namespace kestra::calendarview
