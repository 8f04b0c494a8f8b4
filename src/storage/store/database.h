#pragma once

#include "storage/store/sqlite.h"

#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

namespace kestra::store {

using FieldValues = std::vector<std::pair<QString, QString>>;

// The settings database file: SaveSettingsTbl with its single record, and the
// two preset lists. Field names are matched without regard to case.
class Database
{
public:
    // Opens the file, creating it with one settings record and the preset lists
    // when it does not exist (then *created is set). A file that exists but cannot
    // be read or is not a settings database throws Failure(database) whose
    // description names the file and the reason; such a file is never changed.
    static std::unique_ptr<Database> open(const QString& path, const QDate& today, bool* created = nullptr);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const QString& path() const { return m_path; }

    // The settings record as stored now, keyed by lower-case field name.
    QHash<QString, QString> readSettings() const;
    // Writes the given fields of the settings record in one transaction: all of
    // them reach the file, or none (then Failure(database) is thrown).
    void writeSettings(const FieldValues& values);
    // Every value of one field of a list table, in stored order.
    QStringList listValues(const QString& table, const QString& field) const;

private:
    Database(QString path, SqliteConnection connection);
    void inspect(); // throws when the file is not a settings database
    QString column(const QString& field) const;

    QString m_path;
    SqliteConnection m_connection;
    QHash<QString, QString> m_columns; // lower-case name -> stored name
    qint64 m_rowid = 0;
};

} // namespace kestra::store
