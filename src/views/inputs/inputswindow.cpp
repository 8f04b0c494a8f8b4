#include "views/inputs/inputswindow.h"

#include "base/paths.h"
#include "model/inputs.h"
#include "platform/audio/soundfiles.h"
#include "views/inputs/directorylist.h"
#include "views/inputs/inputssource.h"
#include "views/widgets/messenger.h"
#include "views/widgets/naming.h"
#include "views/widgets/timebox.h"
#include "views/widgets/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>

namespace kestra::inputs {

namespace {

// Client area in twips: wide enough for the directory list, tall enough for File2.
constexpr int kWidthTwips = 7215;
constexpr int kHeightTwips = 5640;

// The grid of mapping boxes.
constexpr int kBoxLeft = 1560;
constexpr int kBoxTop = 720;
constexpr int kBoxPitch = 360;
constexpr int kBoxSize = 255;
// What does nothing for want of AUTO is said from here to the right edge, beside "OUTPUTS".
constexpr int kNoteLeft = 3480;

// "Small Fonts" does not exist here; a small point size gives the same compact lists.
constexpr int kListFontPointSize = 7;

const QString kWavePatternFile1 = QStringLiteral("*.WAV");
const QString kWavePatternFile2 = QStringLiteral("*.wav");
const QString kListToolTip = QStringLiteral("Plays sound when input on");
// A mapping that does nothing, said in red.
const QColor kWarningColour(192, 0, 0);

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

Qt::CheckState boxState(int value)
{
    return value == kBoxSet ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}

} // namespace

InputsWindow::InputsWindow(model::Inputs& inputs, const QString& title, QWidget* owner)
    : InputsWindow(*new LocalInputs(inputs), title, owner)
{
    m_inputs.setParent(this);
}

InputsWindow::InputsWindow(InputsSource& source, const QString& title, QWidget* owner)
    : QWidget(owner, Qt::Dialog), m_inputs(source), m_title(title)
{
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("INPUTS"));
    // A dialog-type window: the window system keeps it in front of its owner.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(ui::twipsToPixels(kWidthTwips, this), ui::twipsToPixels(kHeightTwips, this));
    m_inputs.setWindow(this);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ui::placeAt(ok, 120, 120, 615, 255);
    ui::nameControl(ok, QStringLiteral("OK"), QStringLiteral("Hide the window and store the mapping"));
    connect(ok, &QPushButton::clicked, this, &InputsWindow::ok);

    buildMapping();
    buildSounds();
    connect(&m_inputs, &InputsSource::levelsChanged, this, &InputsWindow::showLevels);
    connect(&m_inputs, &InputsSource::recordChanged, this, &InputsWindow::showRecord);
    connect(&m_inputs, &InputsSource::input4DirectoryChanged, this, &InputsWindow::showDirectory);
    showLevels();
    showRecord();
    fillDrives();
    showDirectory();
    m_input5Files->addItems(matchingFiles(programDirectory(), kWavePatternFile2));
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
        m_levels[n - 1] = e;
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
                connect(box, &QCheckBox::clicked, this, [this, box, n, on, m] {
                    m_inputs.clickMapping(n, on, m, boxValue(box));
                    showModeNotes();
                });
                m_box[n - 1][a][m - 1] = box;
            }
        }
    }

    // Under each column, a mark where the output's boxes do nothing; above
    // the rule "1,2,3 Inputs if in Auto only", which outputs and why.
    const QPalette warning = [this] {
        QPalette p = palette();
        p.setColor(QPalette::WindowText, kWarningColour);
        return p;
    }();
    m_modes.fill(channels::Mode::Auto);
    for (int m = 1; m <= 8; ++m) {
        auto* mark = new QLabel(QStringLiteral("!"), this);
        mark->setObjectName(QStringLiteral("lblNotAuto%1").arg(m));
        mark->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        mark->setPalette(warning);
        QFont bold = mark->font();
        bold.setBold(true);
        mark->setFont(bold);
        ui::placeAt(mark, kBoxLeft + kBoxPitch * (m - 1), kBoxTop + kBoxPitch * 5 + kBoxSize + 5, kBoxSize, 210);
        mark->hide();
        m_modeMarks[m - 1] = mark;
    }
    m_modeNote = new QLabel(this);
    m_modeNote->setObjectName(QStringLiteral("lblNotAuto"));
    m_modeNote->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_modeNote->setPalette(warning);
    ui::placeAt(m_modeNote, kNoteLeft, 90, kWidthTwips - kNoteLeft - 60, 240);
    m_modeNote->hide();

    m_holdTime = new ui::TimeBox(QStringLiteral("INP3TIME"), this);
    m_holdTime->setToolTip(QStringLiteral("Turns on  or off for selected time,only for input 3."));
    ui::placeAt(m_holdTime, 4680, 2280, 1215, 315);
    ui::nameControl(m_holdTime, QStringLiteral("Hold time of input 3"));
    labelAt(this, QStringLiteral("lblHoldTime"), QStringLiteral("Hold time"), 5985, 2310)
        ->setBuddy(m_holdTime);
    connect(m_holdTime, &ui::TimeBox::edited, this,
            [this](const QString& text) { m_inputs.editHoldTime(text); });
    connect(m_holdTime, &ui::TimeBox::focusChanged, this,
            [this](bool focused) { m_inputs.setHoldTimeFocus(focused); });
    connect(m_holdTime, &ui::TimeBox::editEnded, this, [this] {
        if (m_inputs.holdTimeEditPending()) m_inputs.finishHoldTimeEdit();
    });
}

void InputsWindow::buildSounds()
{
    labelAt(this, QStringLiteral("lblFilesSelected"), QStringLiteral("FILES SELECTED"), 1680, 3000);
    labelAt(this, QStringLiteral("lblFiles"), QStringLiteral("FILES"), 3720, 3000);

    m_input4Name = new QLineEdit(this);
    m_input4Name->setObjectName(QStringLiteral("FILEBox2"));
    ui::placeAt(m_input4Name, 1680, 3360, 1455, 375);
    m_input5Name = new QLineEdit(this);
    m_input5Name->setObjectName(QStringLiteral("filebox1"));
    ui::placeAt(m_input5Name, 1680, 4800, 1455, 375);
    connect(m_input4Name, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_inputs.editSoundName(4, t); });
    connect(m_input5Name, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_inputs.editSoundName(5, t); });
    ui::nameControl(m_input4Name, QStringLiteral("Sound of input 4"),
                    QStringLiteral("Wave file played while input 4 is on, from the directory chosen beside"));
    ui::nameControl(m_input5Name, QStringLiteral("Sound of input 5"),
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
    m_input4Files = fileList("File1", 3240, 3360, 1455, 1245);
    m_input5Files = fileList("File2", 3240, 4680, 1455, 585);
    ui::nameControl(m_input4Files, QStringLiteral("Wave files for input 4"));
    ui::nameControl(m_input5Files, QStringLiteral("Wave files for input 5"));
    connect(m_input4Files, &QListWidget::itemDoubleClicked, this, &InputsWindow::showJoinedPath);

    m_drives = new QComboBox(this);
    m_drives->setObjectName(QStringLiteral("Drive1"));
    m_drives->setToolTip(QStringLiteral("Select Drive for *.wav files"));
    ui::placeAt(m_drives, 4800, 3000, 2175, 315);
    ui::nameControl(m_drives, QStringLiteral("Drive"));
    connect(m_drives, &QComboBox::activated, this,
            [this](int index) { m_inputs.setInput4Directory(m_drives->itemText(index)); });

    m_directory = new DirectoryList(QStringLiteral("Dir1"), this);
    m_directory->setToolTip(QStringLiteral("Select Directory for wav files"));
    ui::placeAt(m_directory, 4800, 3360, 2175, 1215);
    ui::nameControl(m_directory, QStringLiteral("Directory"));
    connect(m_directory, &DirectoryList::pathChanged, this,
            [this](const QString& dir) { m_inputs.setInput4Directory(dir); });
}

void InputsWindow::showLevels()
{
    for (int n = 1; n <= 5; ++n) {
        const QString text = m_inputs.levelText(n);
        if (m_levels[n - 1]->text() != text) m_levels[n - 1]->setText(text);
    }
}

void InputsWindow::showModes(const std::array<channels::Mode, 8>& modes)
{
    if (modes == m_modes) return;
    m_modes = modes;
    showModeNotes();
}

void InputsWindow::showModeNotes()
{
    QStringList outputs;
    bool noneChosen = true;
    for (int m = 1; m <= 8; ++m) {
        bool set = false;
        for (int n = 1; n <= 3; ++n)
            set = set || m_inputs.mapping(n, true, m) == kBoxSet || m_inputs.mapping(n, false, m) == kBoxSet;
        const channels::Mode mode = m_modes[m - 1];
        const bool flagged = set && mode != channels::Mode::Auto;
        QLabel* mark = m_modeMarks[m - 1];
        if (mark->isVisibleTo(this) != flagged) mark->setVisible(flagged);
        if (!flagged) continue;
        outputs << QString::number(m);
        noneChosen = noneChosen && mode == channels::Mode::None;
        const QString why = mode == channels::Mode::None ? QStringLiteral("no mode is chosen")
                            : mode == channels::Mode::On ? QStringLiteral("it is in ON")
                                                         : QStringLiteral("it is in OFF");
        mark->setToolTip(QStringLiteral("Output %1 is not in AUTO (%2): its boxes do nothing. Select AUTO "
                                        "in its window.")
                             .arg(m)
                             .arg(why));
    }
    QString note;
    const bool one = outputs.size() == 1;
    const QString which =
        (one ? QStringLiteral("Output ") : QStringLiteral("Outputs ")) + outputs.join(QStringLiteral(", "));
    if (!outputs.isEmpty() && noneChosen)
        note = which + (one ? QStringLiteral(" has no mode: select AUTO")
                            : QStringLiteral(" have no mode: select AUTO"));
    else if (!outputs.isEmpty())
        note = which + (one ? QStringLiteral(" not in AUTO: inputs skip it")
                            : QStringLiteral(" not in AUTO: inputs skip them"));
    // One line: a long list is cut, and whole in the tool tip.
    const QString shown = m_modeNote->fontMetrics().elidedText(note, Qt::ElideRight, m_modeNote->width());
    if (m_modeNote->text() != shown) m_modeNote->setText(shown);
    m_modeNote->setToolTip(note);
    if (m_modeNote->isVisibleTo(this) == note.isEmpty()) m_modeNote->setVisible(!note.isEmpty());
}

void InputsWindow::showRecord()
{
    for (int n = 1; n <= 3; ++n)
        for (int a = 0; a < 2; ++a)
            for (int m = 1; m <= 8; ++m)
                m_box[n - 1][a][m - 1]->setCheckState(boxState(m_inputs.mapping(n, a == 0, m)));
    if (m_holdTime->count() == 0) m_holdTime->setPresets(m_inputs.runTimes());
    // The echo of a switch in another process comes after the key that caused
    // it: a box being typed in keeps what is typed.
    const bool later = m_inputs.echoesLater();
    if (!later || !(m_holdTime->hasFocus() || m_holdTime->lineEdit()->hasFocus()))
        m_holdTime->showText(m_inputs.holdTimeText());
    for (int input : {4, 5}) {
        QLineEdit* e = input == 4 ? m_input4Name : m_input5Name;
        if (later && e->hasFocus()) continue;
        if (e->text() != m_inputs.soundName(input)) e->setText(m_inputs.soundName(input));
    }
    showModeNotes();
}

void InputsWindow::ok()
{
    hide();
    m_inputs.ok();
}

void InputsWindow::closeEvent(QCloseEvent* e)
{
    // The close box hides and commits like OK: the window and the monitoring stay.
    e->ignore();
    ok();
}

void InputsWindow::fileListClicked(QListWidget* list, QListWidgetItem* item)
{
    QListWidgetItem* current = list->currentItem() ? list->currentItem() : item;
    if (current) m_inputs.pickSound(list == m_input4Files ? 4 : 5, current->text());
}

void InputsWindow::showJoinedPath(QListWidgetItem* item)
{
    QListWidgetItem* current = m_input4Files->currentItem() ? m_input4Files->currentItem() : item;
    if (current) ui::messenger().modal(this, m_title, joinPath(m_inputs.input4Directory(), current->text()));
}

void InputsWindow::showDirectory()
{
    const QString dir = m_inputs.input4Directory();
    if (dir.isEmpty()) return;
    if (m_directory->path() != dir) m_directory->setPath(dir);
    m_input4Files->clear();
    m_input4Files->addItems(matchingFiles(dir, kWavePatternFile1));
    const int drive = m_drives->findText(QStorageInfo(dir).rootPath());
    if (drive >= 0) m_drives->setCurrentIndex(drive);
}

void InputsWindow::fillDrives()
{
    m_drives->clear();
    QStringList roots;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
        if (v.isValid() && v.isReady() && !roots.contains(v.rootPath())) roots << v.rootPath();
    roots.sort();
    m_drives->addItems(roots);
}

} // namespace kestra::inputs
