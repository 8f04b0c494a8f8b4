#include "inputs/inputswindow.h"

#include "common/failure.h"
#include "common/paths.h"
#include "common/timetext.h"
#include "inputs/directorylist.h"
#include "inputs/soundfiles.h"
#include "inputs/soundplayer.h"
#include "store/datasource.h"
#include "store/schema.h"
#include "ui/errorroutine.h"
#include "ui/messenger.h"
#include "ui/naming.h"
#include "ui/timebox.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <chrono>

using namespace std::chrono_literals;

namespace kestra::inputs {

namespace {

constexpr auto kCyclePeriod = 200ms;

// Client area in twips: wide enough for the directory list, tall enough for File2.
constexpr int kWidthTwips = 7215;
constexpr int kHeightTwips = 5640;

// The grid of mapping boxes.
constexpr int kBoxLeft = 1560;
constexpr int kBoxTop = 720;
constexpr int kBoxPitch = 360;
constexpr int kBoxSize = 255;

// "Small Fonts" does not exist here; a small point size gives the same compact lists.
constexpr int kListFontPointSize = 7;

const QString kWavePatternFile1 = QStringLiteral("*.WAV");
const QString kWavePatternFile2 = QStringLiteral("*.wav");
const QString kListToolTip = QStringLiteral("Plays sound when input on");
const QString kMidnight = QStringLiteral("00:00:00");

// The value of a two-state box as the override step reads it: 0 clear, 1 set, 2 greyed.
int boxValue(const QCheckBox* box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return kBoxSet;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

} // namespace

InputsWindow::InputsWindow(const ui::AppContext& ctx, QWidget* owner)
    : QWidget(owner, Qt::Dialog), m_ctx(ctx), m_data2(std::make_unique<store::DataSource>(ctx.database))
{
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("INPUTS"));
    // A dialog-type window: the window system keeps it in front of its owner.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(ui::twipsToPixels(kWidthTwips, this), ui::twipsToPixels(kHeightTwips, this));

    m_errors = std::make_unique<ui::ErrorRoutine>(
        this, ctx.build.title, [](const Failure&) { return ui::kInputsTimeFormatMessage; },
        [this] { refreshOwn(); });

    m_timer1.setParent(this);
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(kCyclePeriod);
    m_ctx.ensureTicker(this).attach(&m_timer1, Ticker::Rank::Inputs, [this] { cycle(); });

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ui::placeAt(ok, 120, 120, 615, 255);
    ui::nameControl(ok, QStringLiteral("OK"), QStringLiteral("Hide the window and store the mapping"));
    connect(ok, &QPushButton::clicked, this, &InputsWindow::ok);

    buildMapping();
    buildSounds();
    bindRecord();
}

InputsWindow::~InputsWindow() = default;

namespace {
QLabel* labelAt(QWidget* parent, const QString& name, const QString& text, int x, int y)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->adjustSize();
    l->move(ui::twipsToPixels(x, parent), ui::twipsToPixels(y, parent));
    return l;
}

QLineEdit* hiddenField(QWidget* parent, const QString& name)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->hide();
    return e;
}
} // namespace

void InputsWindow::buildMapping()
{
    labelAt(this, QStringLiteral("lblOutputs"), QStringLiteral("OUTPUTS"), 2400, 120);
    for (int m = 1; m <= 8; ++m) {
        labelAt(this, QStringLiteral("lblOutput%1").arg(m), QStringLiteral(" %1").arg(m),
                kBoxLeft + kBoxPitch * (m - 1), 480);
    }
    labelAt(this, QStringLiteral("lblInputs"), QStringLiteral("INPUTS"), 480, 480);
    labelAt(this, QStringLiteral("lblAutoOnly"), QStringLiteral("1,2,3 Inputs if in Auto only"), 4440, 360);
    labelAt(this, QStringLiteral("lblTurnsOn"), QStringLiteral("Turns On Selected Outputs"), 4440, 720);
    labelAt(this, QStringLiteral("lblTurnsOff"), QStringLiteral("Turns Off Selected Outputs"), 4440, 1080);
    // Input 2's rows have room for the same words; input 3's hold box stands beside its rows.
    labelAt(this, QStringLiteral("lblTurnsOn2"), QStringLiteral("Turns On"), 4440, 1440);
    labelAt(this, QStringLiteral("lblTurnsOff2"), QStringLiteral("Turns Off"), 4440, 1800);

    constexpr std::array<int, 5> kInputTop{840, 1560, 2280, 3360, 4800};
    for (int n = 1; n <= 5; ++n) {
        auto* e = new QLineEdit(QStringLiteral("calculating"), this);
        e->setObjectName(QStringLiteral("INPUT%1").arg(n));
        e->setReadOnly(true);
        ui::nameDisplay(e, QStringLiteral("State of input %1").arg(n));
        ui::placeAt(e, 240, kInputTop[n - 1], 1215, 375);
        m_input[n - 1] = e;
    }

    for (int n = 1; n <= 3; ++n) {
        for (int a = 0; a < 2; ++a) {
            const bool on = a == 0;
            const int row = (n - 1) * 2 + a;
            for (int m = 1; m <= 8; ++m) {
                auto* box = new QCheckBox(this);
                box->setObjectName(QStringLiteral("INP%1%2%3").arg(n).arg(on ? "ON" : "OFF").arg(m));
                ui::nameControl(
                    box,
                    QStringLiteral("Input %1 switches output %2 %3").arg(n).arg(m).arg(on ? "ON" : "OFF"),
                    QStringLiteral("While output %1 is in AUTO").arg(m));
                ui::placeAt(box, kBoxLeft + kBoxPitch * (m - 1), kBoxTop + kBoxPitch * row, kBoxSize,
                            kBoxSize);
                auto* tx =
                    hiddenField(this, QStringLiteral("txinp%1%2%3").arg(n).arg(on ? "on" : "off").arg(m));
                connect(box, &QCheckBox::clicked, this,
                        [box, tx] { tx->setText(flagText(box->checkState() == Qt::Checked)); });
                m_box[n - 1][a][m - 1] = box;
                m_tx[n - 1][a][m - 1] = tx;
            }
        }
    }

    m_inp3time = new ui::TimeBox(QStringLiteral("INP3TIME"), this);
    m_inp3time->setToolTip(QStringLiteral("Turns on  or off for selected time,only for input 3."));
    ui::placeAt(m_inp3time, 4680, 2280, 1215, 315);
    ui::nameControl(m_inp3time, QStringLiteral("Hold time of input 3"));
    labelAt(this, QStringLiteral("lblHoldTime"), QStringLiteral("Hold time"), 5985, 2310)
        ->setBuddy(m_inp3time);
    m_inp3start = hiddenField(this, QStringLiteral("INP3START"));
    m_inp3date = hiddenField(this, QStringLiteral("INP3DATE"));
    // A new hold time ends a running hold: from midnight it can only hold while
    // the time of day is below the hold time.
    connect(m_inp3time, &ui::TimeBox::edited, this, [this] {
        if (!m_endedHold) m_endedHold = HoldStamp{m_inp3date->text(), m_inp3start->text()};
        m_inp3start->setText(kMidnight);
    });
    connect(m_inp3time, &ui::TimeBox::editFinished, this,
            [this] { ui::guarded(*m_errors, [this] { m_inp3time->finishEdit(); }); });
}

void InputsWindow::buildSounds()
{
    labelAt(this, QStringLiteral("lblFilesSelected"), QStringLiteral("FILES SELECTED"), 1680, 3000);
    labelAt(this, QStringLiteral("lblFiles"), QStringLiteral("FILES"), 3720, 3000);

    m_fileBox2 = new QLineEdit(this);
    m_fileBox2->setObjectName(QStringLiteral("FILEBox2"));
    ui::placeAt(m_fileBox2, 1680, 3360, 1455, 375);
    m_filebox1 = new QLineEdit(this);
    m_filebox1->setObjectName(QStringLiteral("filebox1"));
    ui::placeAt(m_filebox1, 1680, 4800, 1455, 375);
    for (QLineEdit* e : {m_fileBox2, m_filebox1})
        connect(e, &QLineEdit::textEdited, this, [this, e] { m_lastEditedFile = e; });
    ui::nameControl(m_fileBox2, QStringLiteral("Sound of input 4"),
                    QStringLiteral("Wave file played while input 4 is on, from the directory chosen beside"));
    ui::nameControl(m_filebox1, QStringLiteral("Sound of input 5"),
                    QStringLiteral("Wave file played while input 5 is on, from the program directory"));

    QFont small = font();
    small.setPointSize(kListFontPointSize);
    auto fileList = [&](const char* name, int x, int y, int w, int h) {
        auto* list = new QListWidget(this);
        list->setObjectName(QLatin1String(name));
        list->setFont(small);
        list->setToolTip(kListToolTip);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        ui::placeAt(list, x, y, w, h);
        connect(list, &QListWidget::itemClicked, this,
                [this, list](QListWidgetItem* item) { fileListClicked(list, item); });
        return list;
    };
    m_file1 = fileList("File1", 3240, 3360, 1455, 1245);
    m_file2 = fileList("File2", 3240, 4680, 1455, 585);
    ui::nameControl(m_file1, QStringLiteral("Wave files for input 4"));
    ui::nameControl(m_file2, QStringLiteral("Wave files for input 5"));
    connect(m_file1, &QListWidget::itemDoubleClicked, this, &InputsWindow::showJoinedPath);

    m_drive1 = new QComboBox(this);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->setToolTip(QStringLiteral("Select Drive for *.wav files"));
    ui::placeAt(m_drive1, 4800, 3000, 2175, 315);
    ui::nameControl(m_drive1, QStringLiteral("Drive"));
    connect(m_drive1, &QComboBox::activated, this, [this](int index) {
        ui::guarded(*m_errors, [&] { m_dir1->setPath(m_drive1->itemText(index)); });
    });

    m_dir1 = new DirectoryList(QStringLiteral("Dir1"), this);
    m_dir1->setToolTip(QStringLiteral("Select Directory for wav files"));
    ui::placeAt(m_dir1, 4800, 3360, 2175, 1215);
    ui::nameControl(m_dir1, QStringLiteral("Directory"));
    connect(m_dir1, &DirectoryList::pathChanged, this, &InputsWindow::directoryChanged);

    m_mm1 = new SoundPlayer(QStringLiteral("MMControl1"), this);
    m_mm2 = new SoundPlayer(QStringLiteral("MMControl2"), this);
}

void InputsWindow::bindRecord()
{
    for (int n = 1; n <= 3; ++n) {
        for (int a = 0; a < 2; ++a) {
            for (int m = 1; m <= 8; ++m) {
                QCheckBox* box = m_box[n - 1][a][m - 1];
                QLineEdit* tx = m_tx[n - 1][a][m - 1];
                // A text that reads neither true nor false (empty in a hand-made
                // file) loads as a cleared box and is stored as "False" next time.
                m_data2->bind(
                    store::mappingField(n, a == 0, m), [tx] { return tx->text(); },
                    [box, tx](const QString& v) {
                        const bool set = tryParseFlag(v).value_or(false);
                        box->setChecked(set);
                        tx->setText(flagText(set));
                    });
            }
        }
    }
    // The hold time reaches the record only through the validation, which refuses
    // a text that is not a time; a plain save leaves the stored value alone.
    m_data2->bind(
        QStringLiteral("INP3TIME"), [this] { return m_data2->value(QStringLiteral("INP3TIME")); },
        [this](const QString& v) { m_inp3time->setStoredText(v); });
    m_data2->bind(
        QStringLiteral("inp3start"), [this] { return m_inp3start->text(); },
        [this](const QString& v) { m_inp3start->setText(v); });
    m_data2->bind(
        QStringLiteral("inp3date"), [this] { return m_inp3date->text(); },
        [this](const QString& v) { m_inp3date->setText(v); });
    // Both name fields show the one stored name; of two different edits before a
    // commit, the later one is kept.
    m_data2->bind(
        QStringLiteral("file1"),
        [this] { return (m_lastEditedFile ? m_lastEditedFile : m_fileBox2)->text(); },
        [this](const QString& v) {
            m_fileBox2->setText(v);
            m_filebox1->setText(v);
            m_lastEditedFile = nullptr;
        });
    m_data2->setValidationHandler([this] { validate(); });
}

void InputsWindow::load()
{
    // The monitoring needs nothing from the record; it runs even if the rest fails.
    m_timer1.start();
    m_inp3time->setPresets(m_ctx.database.listValues(store::kRunTimesTable, store::kRunTimesField));
    m_data2->refresh();
    fillDrives();
    m_dir1->setPath(homeDirectory());
    m_file2->clear();
    m_file2->addItems(matchingFiles(programDirectory(), kWavePatternFile2));
}

void InputsWindow::unload()
{
    m_timer1.stop();
    m_mm1->close();
    m_mm2->close();
    m_data2->close();
}

QString InputsWindow::inputText(int input) const
{
    return m_input.at(input - 1)->text();
}

OverrideView InputsWindow::overrideView(int channel) const
{
    OverrideView v;
    v.input1 = m_input[0]->text();
    v.input2 = m_input[1]->text();
    v.input3 = m_input[2]->text();
    int i = 0;
    for (int n = 0; n < 3; ++n)
        for (int a = 0; a < 2; ++a)
            v.boxes[i++] = boxValue(m_box[n][a].at(channel - 1));
    v.inp3Start = m_inp3start->text();
    v.inp3Time = m_inp3time->tickText();
    v.inp3Date = m_inp3date->text();
    return v;
}

void InputsWindow::refreshOwn()
{
    const HoldStamp shown{m_inp3date->text(), m_inp3start->text()};
    try {
        m_data2->refresh();
    } catch (const Failure& f) {
        // The validation refused the hold time (its mark is cleared now); the
        // stored record is still what the caller wants to see.
        if (!failure::isBadEntry(f.number)) throw;
        m_data2->refresh();
    }
    // A running hold goes on: the stamp is measured, not edited.
    const HoldStamp kept =
        stampAfterReread(shown, HoldStamp{m_inp3date->text(), m_inp3start->text()}, m_endedHold);
    m_inp3date->setText(kept.date);
    m_inp3start->setText(kept.time);
}

void InputsWindow::rereadRecord()
{
    refreshOwn();
}

void InputsWindow::validate()
{
    if (!m_inp3time->isChanged()) return;
    m_inp3time->clearChanged();
    m_data2->save();
    const QString text = m_inp3time->text();
    const auto seconds = tryParseTime(text);
    if (!seconds)
        throw Failure(
            failure::kRefusedTime,
            QStringLiteral("The hold time \"%1\" is not a time hh:mm:ss and was not stored.").arg(text));
    const QString stored = formatTime(*seconds);
    m_data2->writeField(QStringLiteral("INP3TIME"), stored);
    m_inp3time->setStoredText(stored);
}

void InputsWindow::ok()
{
    ui::guarded(*m_errors, [&] {
        hide();
        m_data2->close();
    });
}

void InputsWindow::closeEvent(QCloseEvent* e)
{
    // The close box hides and commits like OK: the window and its monitoring stay.
    e->ignore();
    ok();
}

void InputsWindow::cycle()
{
    ui::guarded(*m_errors, [&] {
        const auto texts = inputTexts(m_ctx.port.readStatus());
        for (int n = 1; n <= 3; ++n)
            m_input[n - 1]->setText(texts[n - 1]);
        if (m_input[2]->text() == inputs::inputText(3, true)) {
            const QDateTime now = m_ctx.clock.now();
            m_inp3start->setText(formatTime(secondsOfDay(now)));
            m_inp3date->setText(formatDate(now.date()));
            m_endedHold.reset();
        }
        // Held inputs restart their sound on every cycle.
        m_input[3]->setText(texts[3]);
        if (m_input[3]->text() == inputs::inputText(4, true)) startSound(*m_mm1, input4SoundPath());
        m_input[4]->setText(texts[4]);
        if (m_input[4]->text() == inputs::inputText(5, true)) startSound(*m_mm2, input5SoundPath());
    });
}

SoundPlayer& InputsWindow::player(int number) const
{
    return number == 1 ? *m_mm1 : *m_mm2;
}

QString InputsWindow::input4SoundPath() const
{
    return soundPath(m_dir1->path(), m_fileBox2->text());
}

QString InputsWindow::input5SoundPath() const
{
    return soundPath(programDirectory(), m_filebox1->text());
}

void InputsWindow::fileListClicked(QListWidget* list, QListWidgetItem* item)
{
    ui::guarded(*m_errors, [&] {
        const bool input4 = list == m_file1;
        const QString dir = input4 ? m_dir1->path() : programDirectory();
        SoundPlayer& player = input4 ? *m_mm1 : *m_mm2;
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->isSelected()) startSound(player, soundPath(dir, list->item(row)->text()));
        QListWidgetItem* current = list->currentItem() ? list->currentItem() : item;
        QLineEdit* field = input4 ? m_fileBox2 : m_filebox1;
        field->setText(current->text());
        m_lastEditedFile = field;
    });
}

void InputsWindow::showJoinedPath(QListWidgetItem* item)
{
    ui::guarded(*m_errors, [&] {
        QListWidgetItem* current = m_file1->currentItem() ? m_file1->currentItem() : item;
        ui::messenger().modal(this, m_ctx.build.title, joinPath(m_dir1->path(), current->text()));
    });
}

void InputsWindow::directoryChanged(const QString& dir)
{
    m_file1->clear();
    m_file1->addItems(matchingFiles(dir, kWavePatternFile1));
    const int drive = m_drive1->findText(QStorageInfo(dir).rootPath());
    if (drive >= 0) m_drive1->setCurrentIndex(drive);
}

void InputsWindow::fillDrives()
{
    m_drive1->clear();
    QStringList roots;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
        if (v.isValid() && v.isReady() && !roots.contains(v.rootPath())) roots << v.rootPath();
    roots.sort();
    m_drive1->addItems(roots);
}

} // namespace kestra::inputs
