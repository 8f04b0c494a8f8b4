#include "base/paths.h"
#include "inputsrig.h"
#include "platform/audio/soundfiles.h"
#include "platform/audio/soundplayer.h"
#include "views/inputs/directorylist.h"
#include "views/widgets/messenger.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestra;
using inputs::SoundPlayer;
using test::InputsRig;

namespace {
constexpr quint8 kInput4On = 0x78 & ~0x10;
constexpr quint8 kInput5On = 0x78 & ~0x08;

QStringList listed(const QListWidget* list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

void clickEntry(QListWidget* list, const QString& name, bool twice = false)
{
    const auto items = list->findItems(name, Qt::MatchExactly);
    QVERIFY2(items.size() == 1, qPrintable(name));
    const QPoint at = list->visualItemRect(items.first()).center();
    if (twice)
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}

// The five commands of one start, as the player logged them.
QStringList startSequence(const QString& path)
{
    return {QStringLiteral("close"), QStringLiteral("device WaveAudio"), QStringLiteral("file ") + path,
            QStringLiteral("open"), QStringLiteral("play")};
}
} // namespace

class TstSounds : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("sounds"))));
        QVERIFY(test::writeWave(m_home.filePath(QStringLiteral("bell.wav"))));
        QVERIFY(test::writeWave(m_home.filePath(QStringLiteral("sounds/bell.wav"))));
        QVERIFY(test::writeWave(m_home.filePath(QStringLiteral("sounds/GONG.WAV"))));
        QVERIFY(QDir().mkpath(programDirectory()));
        QVERIFY(test::writeWave(programDirectory() + QStringLiteral("/chime.wav")));
    }

    void directoryJoin_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("joined");
        QTest::newRow("root") << "/"
                              << "bell.wav"
                              << "/bell.wav";
        QTest::newRow("subdirectory") << "/home/ann/sounds"
                                      << "bell.wav"
                                      << "/home/ann/sounds/bell.wav";
        QTest::newRow("trailing separator") << "/home/ann/"
                                            << "bell.wav"
                                            << "/home/ann/bell.wav";
        QTest::newRow("empty name") << "/home/ann"
                                    << ""
                                    << "/home/ann/";
    }
    void directoryJoin()
    {
        QFETCH(QString, dir);
        QFETCH(QString, name);
        QFETCH(QString, joined);
        QCOMPARE(inputs::joinPath(dir, name), joined);
    }

    void namesThatLeaveTheirDirectory_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("played");
        QTest::newRow("plain") << "bell.wav" << true;
        QTest::newRow("blank inside") << "door bell.WAV" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("parent") << "../bell.wav" << false;
        QTest::newRow("dots") << ".." << false;
        QTest::newRow("subdirectory") << "sounds/bell.wav" << false;
        QTest::newRow("absolute") << "/etc/passwd" << false;
        QTest::newRow("backslash") << "..\\bell.wav" << false;
        QTest::newRow("dots inside") << "my..bell.wav" << true;
        QTest::newRow("dots first") << "..bell.wav" << true;
        QTest::newRow("dots last") << "bell.wav.." << true;
        QTest::newRow("this directory") << "." << false;
        QTest::newRow("backslash inside") << "sounds\\bell.wav" << false;
        QTest::newRow("nul") << QString("bell") + QChar(0) + ".wav" << false;
    }
    void namesThatLeaveTheirDirectory()
    {
        QFETCH(QString, name);
        QFETCH(bool, played);
        QCOMPARE(inputs::isBareName(name), played);
        QCOMPARE(inputs::soundPath(QStringLiteral("/x"), name).isEmpty(), !played);
    }

    void listsMatchWithoutCase()
    {
        QTemporaryDir d;
        for (const char* n : {"b.WAV", "a.wav", "C.Wav", "notes.txt", "wav"})
            QVERIFY(test::writeWave(d.filePath(QLatin1String(n))));
        QVERIFY(QDir(d.path()).mkdir(QStringLiteral("folder.wav")));
        const QStringList expected{QStringLiteral("a.wav"), QStringLiteral("b.WAV"), QStringLiteral("C.Wav")};
        QCOMPARE(inputs::matchingFiles(d.path(), QStringLiteral("*.WAV")), expected);
        QCOMPARE(inputs::matchingFiles(d.path(), QStringLiteral("*.wav")), expected);
    }

    void onlyRegularReadableFilesPlay()
    {
        QTemporaryDir d;
        QVERIFY(test::writeWave(d.filePath(QStringLiteral("Bell.Wav"))));
        QVERIFY(QDir(d.path()).mkdir(QStringLiteral("dir.wav")));
        QCOMPARE(inputs::findPlayableFile(d.filePath(QStringLiteral("Bell.Wav"))),
                 d.filePath(QStringLiteral("Bell.Wav")));
        QCOMPARE(inputs::findPlayableFile(d.filePath(QStringLiteral("BELL.WAV"))),
                 d.filePath(QStringLiteral("Bell.Wav")));
        QCOMPARE(inputs::findPlayableFile(d.filePath(QStringLiteral("bell.wav"))),
                 d.filePath(QStringLiteral("Bell.Wav")));
        QCOMPARE(inputs::findPlayableFile(d.filePath(QStringLiteral("missing.wav"))), QString());
        QCOMPARE(inputs::findPlayableFile(d.filePath(QStringLiteral("dir.wav"))), QString());
        QCOMPARE(inputs::findPlayableFile(d.path() + QLatin1Char('/')), QString());
        // A pipe would hold the player up forever.
        const QByteArray fifo = QFile::encodeName(d.filePath(QStringLiteral("pipe.wav")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QCOMPARE(inputs::findPlayableFile(d.filePath(QStringLiteral("pipe.wav"))), QString());
        if (::geteuid() != 0) {
            QVERIFY(test::writeWave(d.filePath(QStringLiteral("locked.wav"))));
            QFile::setPermissions(d.filePath(QStringLiteral("locked.wav")), QFile::WriteOwner);
            QCOMPARE(inputs::findPlayableFile(d.filePath(QStringLiteral("locked.wav"))), QString());
        }
    }

    void playerCommandsNeverFail()
    {
        SoundPlayer p(QStringLiteral("MMControl1"));
        p.setOutputEnabled(false);
        inputs::startSound(p, m_home.filePath(QStringLiteral("missing.wav")));
        QVERIFY(!p.isOpen());
        inputs::startSound(p, QString());
        QVERIFY(!p.isOpen());
        inputs::startSound(p, m_home.filePath(QStringLiteral("bell.wav")));
        QCOMPARE(p.openedPath(), m_home.filePath(QStringLiteral("bell.wav")));
        QVERIFY(!p.isSounding());
        QCOMPARE(p.recentCommands().mid(10), startSequence(m_home.filePath(QStringLiteral("bell.wav"))));
        QCOMPARE(p.commandCount(QStringLiteral("play")), 3);
        p.close();
        QVERIFY(!p.isOpen());
    }

    void file1ClickPlaysFromDir1AndWritesTheName()
    {
        InputsRig rig;
        auto& w = rig.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* dir1 = rig.child<inputs::DirectoryList>(QStringLiteral("Dir1"));
        auto* file1 = rig.child<QListWidget>(QStringLiteral("File1"));
        QCOMPARE(dir1->path(), m_home.path());
        QCOMPARE(listed(file1), QStringList{QStringLiteral("bell.wav")});

        clickEntry(file1, QStringLiteral("bell.wav"));
        const QString atHome = m_home.filePath(QStringLiteral("bell.wav"));
        QCOMPARE(rig.inputs().player(1).recentCommands(), startSequence(atHome));
        QCOMPARE(rig.inputs().player(1).openedPath(), atHome);
        QCOMPARE(rig.inputs().player(2).commandCount(QStringLiteral("play")), 0);
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("FILEBox2"))->text(), QStringLiteral("bell.wav"));

        ui::RecordingMessenger messages;
        clickEntry(file1, QStringLiteral("bell.wav"), true);
        QCOMPARE(messages.modals, QStringList{atHome});

        // Into the subdirectory: File1 follows, and the same name plays from there.
        const auto entries = dir1->findItems(QStringLiteral("sounds"), Qt::MatchEndsWith);
        QCOMPARE(entries.size(), 1);
        clickEntry(dir1, entries.first()->text()); // select, then open it
        clickEntry(dir1, entries.first()->text(), true);
        QTRY_COMPARE(dir1->path(), m_home.filePath(QStringLiteral("sounds")));
        QCOMPARE(listed(file1), (QStringList{QStringLiteral("bell.wav"), QStringLiteral("GONG.WAV")}));
        clickEntry(file1, QStringLiteral("bell.wav"));
        const QString inSounds = m_home.filePath(QStringLiteral("sounds/bell.wav"));
        QCOMPARE(rig.inputs().player(1).recentCommands().mid(5), startSequence(inSounds));
        QCOMPARE(rig.inputs().soundPath(4), inSounds);
        messages.modals.clear();
        clickEntry(file1, QStringLiteral("bell.wav"), true);
        QCOMPARE(messages.modals, QStringList{inSounds});

        // The directory is not stored: after a restart the name is looked for at home.
        rig.child<QPushButton>(QStringLiteral("Command1"))->click();
        QCOMPARE(rig.stored(QStringLiteral("file1")), QStringLiteral("bell.wav"));
        rig.restart();
        QCOMPARE(rig.child<inputs::DirectoryList>(QStringLiteral("Dir1"))->path(), m_home.path());
        QCOMPARE(rig.inputs().soundPath(4), atHome);
    }

    void file2ClickPlaysFromTheProgramDirectory()
    {
        InputsRig rig;
        auto& w = rig.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* file2 = rig.child<QListWidget>(QStringLiteral("File2"));
        QVERIFY(listed(file2).contains(QStringLiteral("chime.wav")));
        clickEntry(file2, QStringLiteral("chime.wav"));
        const QString path = programDirectory() + QStringLiteral("/chime.wav");
        QCOMPARE(rig.inputs().player(2).recentCommands(), startSequence(path));
        QCOMPARE(rig.inputs().player(2).openedPath(), path);
        QCOMPARE(rig.inputs().player(1).commandCount(QStringLiteral("play")), 0);
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("filebox1"))->text(), QStringLiteral("chime.wav"));
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("FILEBox2"))->text(), QString());
    }

    void newDriveMovesDir1()
    {
        InputsRig rig;
        rig.open();
        auto* drive1 = rig.child<QComboBox>(QStringLiteral("Drive1"));
        auto* dir1 = rig.child<inputs::DirectoryList>(QStringLiteral("Dir1"));
        auto* file1 = rig.child<QListWidget>(QStringLiteral("File1"));
        QCOMPARE(drive1->toolTip(), QStringLiteral("Select Drive for *.wav files"));
        QCOMPARE(dir1->toolTip(), QStringLiteral("Select Directory for wav files"));
        QCOMPARE(file1->toolTip(), QStringLiteral("Plays sound when input on"));
        QVERIFY(drive1->count() > 0);
        QCOMPARE(drive1->currentText(), QStorageInfo(m_home.path()).rootPath());

        dir1->setPath(m_home.filePath(QStringLiteral("sounds")));
        QCOMPARE(file1->count(), 2);
        const int root = drive1->findText(QStringLiteral("/"));
        QVERIFY(root >= 0);
        drive1->setCurrentIndex(root);
        emit drive1->activated(root);
        QCOMPARE(dir1->path(), QStringLiteral("/"));
        QCOMPARE(listed(file1), inputs::matchingFiles(QStringLiteral("/"), QStringLiteral("*.WAV")));
    }

    void heldInputRestartsItsSoundEveryCycle_data()
    {
        QTest::addColumn<int>("input");
        QTest::newRow("input 4") << 4;
        QTest::newRow("input 5") << 5;
    }
    void heldInputRestartsItsSoundEveryCycle()
    {
        QFETCH(int, input);
        InputsRig rig;
        rig.open();
        // A name stored in another case still finds its file.
        rig.db->writeSettings({{QStringLiteral("file1"),
                                input == 4 ? QStringLiteral("BELL.WAV") : QStringLiteral("Chime.wav")}});
        rig.inputs().reread();
        SoundPlayer& own = rig.inputs().player(input - 3);
        SoundPlayer& other = rig.inputs().player(input == 4 ? 2 : 1);
        rig.setStatus(input == 4 ? kInput4On : kInput5On);
        for (int i = 0; i < 5; ++i) { // one second of 200 ms cycles
            rig.inputs().cycle();
            rig.clock.advanceMs(200);
        }
        QCOMPARE(rig.inputs().levelText(input), QStringLiteral("INPUT %1 ON").arg(input));
        for (const char* c : {"close", "device", "file", "open", "play"})
            QCOMPARE(own.commandCount(QLatin1String(c)), 5);
        QCOMPARE(other.commandCount(QStringLiteral("play")), 0);
        const QString played = input == 4 ? m_home.filePath(QStringLiteral("bell.wav"))
                                          : programDirectory() + QStringLiteral("/chime.wav");
        QCOMPARE(own.openedPath(), played);

        // Released: no more starts, and the last one is not cut off.
        rig.setStatus(0x78);
        rig.inputs().cycle();
        rig.inputs().cycle();
        QCOMPARE(own.commandCount(QStringLiteral("play")), 5);
        QCOMPARE(own.commandCount(QStringLiteral("close")), 5);
    }

    void missingFileOrNoAudioNeverFailsTheCycle()
    {
        ui::RecordingMessenger messages;
        InputsRig rig;
        rig.open();
        rig.inputs().player(1).setOutputEnabled(false);
        rig.inputs().player(2).setOutputEnabled(false);
        rig.setStatus(0x78 & ~0x18); // inputs 4 and 5 ON
        for (const QString& name : {QStringLiteral("missing.wav"), QStringLiteral("../secret.wav"), QString(),
                                    QStringLiteral("bell.wav")}) {
            rig.db->writeSettings({{QStringLiteral("file1"), name}});
            rig.inputs().reread();
            rig.inputs().cycle();
            QCOMPARE(rig.inputs().levelText(4), QStringLiteral("INPUT 4 ON"));
            QCOMPARE(rig.inputs().levelText(5), QStringLiteral("INPUT 5 ON"));
            QVERIFY(!rig.inputs().player(1).isSounding());
            QVERIFY(!rig.inputs().player(2).isSounding());
        }
        QCOMPARE(rig.inputs().player(1).commandCount(QStringLiteral("play")), 4);
        QCOMPARE(rig.inputs().player(1).openedPath(),
                 m_home.filePath(QStringLiteral("bell.wav"))); // chosen, only not heard
        QVERIFY(!rig.inputs().player(2).isOpen());             // no bell.wav in the program directory
        QVERIFY(messages.modals.isEmpty());
        QVERIFY(messages.notices.isEmpty());

        // The same with whatever audio this machine has.
        rig.inputs().player(1).setOutputEnabled(true);
        rig.inputs().player(2).setOutputEnabled(true);
        rig.inputs().cycle();
        QCOMPARE(rig.inputs().player(1).commandCount(QStringLiteral("play")), 5);
        QVERIFY(messages.modals.isEmpty());
    }

    void unloadClosesBothPlayers()
    {
        InputsRig rig;
        rig.open();
        rig.inputs().unload();
        QCOMPARE(rig.inputs().player(1).recentCommands().last(), QStringLiteral("close"));
        QCOMPARE(rig.inputs().player(2).recentCommands().last(), QStringLiteral("close"));
    }

private:
    QTemporaryDir m_home;
};

QTEST_MAIN(TstSounds)
#include "tst_sounds.moc"
