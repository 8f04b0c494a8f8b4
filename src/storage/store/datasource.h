#pragma once

#include "storage/store/database.h"

#include <QHash>
#include <QString>
#include <functional>
#include <vector>

namespace kestra::store {

// A window's own copy of the settings record. Fields of the window are bound to
// fields of the record; a refresh loads them from the file, a save writes back
// only the bound fields whose control changed since they were loaded or saved, so
// two windows holding the same record never overwrite each other's fields, and a
// stored value that a control cannot show as it is (a text longer than a line
// edit holds) is not rewritten unless the user edits it.
class DataSource
{
public:
    using Getter = std::function<QString()>;
    using Setter = std::function<void(const QString&)>;

    explicit DataSource(Database& db) : m_db(db) {}

    // Binds a window field. `get` reads the control's current text, `set` shows a value.
    void bind(const QString& field, Getter get, Setter set);

    // Runs before the record is left: before a refresh of a loaded record and when
    // the window closes. It may write fields itself.
    void setValidationHandler(std::function<void()> handler) { m_validate = std::move(handler); }

    // Runs the validation (once loaded), then reads the record and shows every
    // bound field. Changes that the validation did not save are dropped.
    void refresh();
    // Writes the changed bound fields in one transaction. Throws Failure(database).
    void save();
    // Validation, then save: what a window does when it goes away.
    void close();
    // Writes one field now (and takes the value as the bound field's saved value).
    void writeField(const QString& field, const QString& value);
    // Writes these fields now in one transaction, as writeField does for one.
    void writeFields(const FieldValues& values);
    // These fields reached the file by another copy's write (several copies'
    // fields in one transaction): taken as written, as writeFields does.
    void noteWritten(const FieldValues& values);

    // The record as this copy last read or wrote it.
    QString value(const QString& field) const { return m_record.value(field.toLower()); }
    bool isLoaded() const { return m_loaded; }
    bool hasChanges() const;
    Database& database() { return m_db; }

private:
    struct Binding
    {
        QString field;
        Getter get;
        Setter set;
        QString shown; // what the control held after the last load or save
    };
    Database& m_db;
    std::vector<Binding> m_bindings;
    QHash<QString, QString> m_record; // lower-case field -> value
    std::function<void()> m_validate;
    bool m_loaded = false;
    bool m_validating = false;
};

} // namespace kestra::store
