#pragma once

#include "base/state.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

namespace kestra::inputs {

// "INPUT 1 ON", "INPUT 4 OFF"
QString inputText(int input, bool on);
// The five input texts for a status byte (bits 7..3 only).
std::array<QString, 5> inputTexts(quint8 status);

// Value of a two-state box: 0 clear, 1 set, 2 greyed. Only 1 counts as set.
inline constexpr int kBoxSet = 1;

// What the input override step of one channel reads from the inputs window.
struct OverrideView
{
    // Inputs 1 to 3 read ON; an input not read yet counts as not active.
    bool input1 = false, input2 = false, input3 = false;
    // Boxes of the channel's column: INP1ON, INP1OFF, INP2ON, INP2OFF, INP3ON, INP3OFF.
    std::array<int, 6> boxes{};
    QString inp3Start; // time of day input 3 last read ON
    QString inp3Time;  // hold time
    QString inp3Date;  // date of that reading
};

// The input 3 hold (rules 7 and 8) as it stands at `now`: the second of the day
// at which it ends (excluded, not wrapped at midnight: past 86399 it ends at
// midnight, when the date changes), or nothing when no hold runs. Converts its
// texts: one that does not convert throws Failure 13.
std::optional<int> holdEnd(const OverrideView& view, const QDateTime& now);

// The eight rules for a channel, applied in order to `status`, each overwriting
// the one before. Only in AUTO. The hold rule converts its texts only when its
// box is set; a text that does not convert throws Failure 13 and leaves `status`
// as the earlier rules left it. `rule`, when given, is set to the number (1..8)
// of each rule as it writes, so it names the rule that decided; it is left
// alone when no rule writes.
void applyOverride(bool autoSelected, const OverrideView& view, const QDateTime& now, State& status,
                   int* rule = nullptr);

// When input 3 was last read ON: INP3DATE and INP3START as texts.
struct HoldStamp
{
    QString date;
    QString time;
};

// What a re-read of the record leaves in INP3DATE / INP3START. The stamp is the
// program's own measurement, not an edit, so a re-read must not take a newer
// one back and end a running hold: the stored stamp wins only when it is newer
// than the one shown and than `ended`, the stamp of a hold the user ended by
// editing the hold time (that end stays). A stamp that does not convert counts
// as older than any other; when neither converts the stored one is taken.
HoldStamp stampAfterReread(const HoldStamp& shown, const HoldStamp& stored,
                           const std::optional<HoldStamp>& ended);

} // namespace kestra::inputs
