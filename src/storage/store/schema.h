#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

namespace kestra::store {

inline const QString kSettingsTable = QStringLiteral("SaveSettingsTbl");
inline const QString kStartTimesTable = QStringLiteral("SetTimesTbl");
inline const QString kStartTimesField = QStringLiteral("Start Time1a");
inline const QString kRunTimesTable = QStringLiteral("RunTimesTbl");
inline const QString kRunTimesField = QStringLiteral("Run1a");

enum class FieldFormat { Text, Flag, Time, Byte, Counter, Date, Path };

// Every field of the settings record, 194 of them, with the names the windows bind.
const QStringList& settingsFields();
FieldFormat fieldFormat(const QString& field);

// Value of a field in a new settings record.
QString newRecordValue(const QString& field, const QDate& today);

// Names of the day-flag field of channel m for weekday index 0 (Sunday) .. 6.
QString dayField(int channel, int dayIndex);
// Channel 1's mode flags carry no digit: "Auto", "Off", "On"; the others "Auto2" ...
QString modeField(int channel, const QString& mode);
// "1INP ON3", "2INP OFF5"
QString mappingField(int input, bool on, int output);

// Preset lists of a new database.
QStringList presetStartTimes();
QStringList presetRunTimes();

// Quotes a field name for SQL ("1INP ON1" has a blank and starts with a digit).
QString quoted(const QString& name);

} // namespace kestra::store
