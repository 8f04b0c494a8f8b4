#pragma once

#include <QDate>
#include <QJsonObject>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace kestra::calendar {

// The sun's depth below the horizon that counts as rise and set.
enum class Twilight { Official, Civil, Nautical, Astronomical };
double horizonOf(Twilight t);     // degrees: -0.833, -6, -12, -18
QString twilightName(Twilight t); // "official", "civil", "nautical", "astronomical"
std::optional<Twilight> twilightFromName(const QString& name);

// Where the switch stands. Latitude north and longitude east are positive.
struct Place
{
    bool set = false;
    double latitude = 0;
    double longitude = 0;
    QString name;
    bool operator==(const Place&) const = default;
};

inline constexpr int kMaxOffsetSeconds = 4 * 3600;
inline constexpr int kMaxPresenceMinutes = 60;

// What one start or end of a switching is tied to. Clock keeps the time of the
// channel's window; Run (ends only) keeps the window's run time after the
// start wherever the start lands.
struct Anchor
{
    enum class Kind { Clock, Run, Sunrise, Sunset };
    Kind kind = Kind::Clock;
    int offset = 0;               // seconds, -4 h .. +4 h, for Sunrise and Sunset
    std::optional<int> notBefore; // clock limits, seconds of the day
    std::optional<int> notAfter;
    bool operator==(const Anchor&) const = default;
    bool isSun() const { return kind == Kind::Sunrise || kind == Kind::Sunset; }
    static Anchor run()
    {
        Anchor a;
        a.kind = Kind::Run;
        return a;
    }
};
QString anchorKindName(Anchor::Kind k); // "clock", "run", "sunrise", "sunset"
std::optional<Anchor::Kind> anchorKindFromName(const QString& name);

struct SwitchingAnchors
{
    Anchor start;
    Anchor end = Anchor::run();
    bool operator==(const SwitchingAnchors&) const = default;
    bool isDefault() const { return start == Anchor{} && (end.kind == Anchor::Kind::Run || end == Anchor{}); }
};

// One output's additions to its described schedule.
struct OutputCalendar
{
    std::vector<SwitchingAnchors> switchings; // a, b, ...; missing ones are the default
    int presenceMinutes = 0;                  // 0 .. 60: each switching moves by up to this much
    bool operator==(const OutputCalendar&) const = default;
    // Anchors of switching k (the default when none are stored).
    SwitchingAnchors anchors(int k) const;
    bool isDefault() const;
};

// A date period during which chosen outputs do something else.
struct Holiday
{
    enum class Action { Off, On, AsSunday };
    QString name;
    QDate from;
    QDate to; // included; every year: may lie in the next year (24 Dec .. 6 Jan)
    bool everyYear = false;
    quint8 outputs = 0; // bit m-1 for output m
    Action action = Action::Off;
    bool operator==(const Holiday&) const = default;
    bool covers(const QDate& date) const;
    bool names(int output) const { return outputs & (1u << (output - 1)); }
};
QString actionName(Holiday::Action a); // "OFF", "ON", "as on Sunday"

inline constexpr int kMaxHolidays = 1000;

struct Settings
{
    Place place;
    Twilight twilight = Twilight::Official;
    quint64 seed = 0; // presence draws; made once when the file is created
    std::array<OutputCalendar, 8> outputs;
    std::vector<Holiday> holidays;
    bool operator==(const Settings&) const = default;

    // The holiday that decides output m on `date` (the first in the list), if any.
    const Holiday* holidayFor(int output, const QDate& date) const;
    // Whether anything here can change output m's schedule on `date`.
    bool touches(int output, const QDate& date) const;
    // Whether anything here changes output m on any date.
    bool touchesAny(int output) const;
};

// The first fault of the settings, in words ("latitude 91 is out of -90..90"),
// or an empty text when they may be stored.
QString fault(const Settings& s);

QJsonObject toJson(const Settings& s);
// Throws Failure 13 naming the fault when the text is not settings this program wrote.
Settings fromJson(const QJsonObject& o);

// What a person types into the calendar's fields, read alike wherever it is
// typed (the calendar window, the API): Failure 13 naming the field and the
// text when it does not read. Ranges are fault()'s to judge.
//   latitude and longitude both empty: no place; else both must be numbers
Place placeFromText(const QString& latitude, const QString& longitude, const QString& name);
//   `where` is "switching a start"; an empty text is no offset
int offsetFromText(const QString& text, const QString& where);
//   `what` is "switching a start \"not before\""; an empty text is no limit
std::optional<int> limitFromText(const QString& text, const QString& what);
QDate holidayDateFromText(const QString& holiday, const QString& text); // yyyy-mm-dd
quint8 outputsFromText(const QString& holiday, const QString& text);    // "3 5"

// "+0:15", "-1:30"
QString offsetText(int seconds);
// "-4:00" .. "+4:00", "15" (minutes), "-90m"; nothing when it does not read
std::optional<int> parseOffset(const QString& text);

} // namespace kestra::calendar
