#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace kestra::inputs {

// Where a player's sound is heard: the machine's audio output. The program
// installs one made with Qt Multimedia; without it every player is silent.
class AudioOutput
{
public:
    virtual ~AudioOutput() = default;
    // Whether there is an output to be heard at all.
    virtual bool available() const = 0;
    virtual void play(const QString& path) = 0;
    virtual void stop() = 0;
    virtual bool isSounding() const = 0;
};
using AudioFactory = std::function<std::unique_ptr<AudioOutput>(QObject* parent)>;
// Makes the output of each player at its first play that can be heard.
void setAudioFactory(AudioFactory factory);
// Outputs from the audio module (kestra-audio.so) in `dir`, loaded at the first
// play that needs one, so that a program that never plays a sound never loads
// the audio libraries. Without the module every player is silent, said once.
void useAudioModule(const QString& dir);

// A wave player driven by commands, as the sound inputs use it: "close",
// device type, file name, "open", "play". "play" returns at once and the sound
// goes on in the background; "close" ends a play still running. A file that
// cannot be played, or a machine without an audio output, gives silence: no
// command ever fails.
class SoundPlayer : public QObject
{
    Q_OBJECT
public:
    explicit SoundPlayer(const QString& name, QObject* parent = nullptr);
    ~SoundPlayer() override;

    void close();
    void setDeviceType(const QString& type);
    void setFileName(const QString& path);
    void open();
    void play();

    // Which file "open" accepted (empty when it refused the file name), and
    // whether a play of it reached an audio output.
    QString openedPath() const { return m_opened; }
    bool isOpen() const { return !m_opened.isEmpty(); }
    bool isSounding() const;

    // How many times each command arrived ("close", "device", "file", "open",
    // "play"), and the last few commands with their arguments.
    int commandCount(const QString& command) const { return m_counts.value(command); }
    QStringList recentCommands() const { return m_recent; }
    void clearLog();

    // Off: behave as on a machine without an audio output.
    void setOutputEnabled(bool enabled) { m_outputEnabled = enabled; }

private:
    void log(const QString& command, const QString& argument = {});

    QString m_deviceType;
    QString m_fileName;
    QString m_opened;
    std::unique_ptr<AudioOutput> m_output; // made at the first play that can be heard
    bool m_outputEnabled = true;
    QHash<QString, int> m_counts;
    QStringList m_recent;
};

// The sound start sequence: the five commands in their order.
void startSound(SoundPlayer& player, const QString& path);

} // namespace kestra::inputs
