#include "store/datasource.h"

namespace kestra::store {

void DataSource::bind(const QString& field, Getter get, Setter set)
{
    m_bindings.push_back({field, std::move(get), std::move(set)});
}

void DataSource::refresh()
{
    if (m_loaded && m_validate && !m_validating) {
        m_validating = true;
        try {
            m_validate();
        } catch (...) {
            m_validating = false;
            throw;
        }
        m_validating = false;
    }
    m_record = m_db.readSettings();
    m_loaded = true;
    for (const Binding& b : m_bindings)
        b.set(m_record.value(b.field.toLower()));
}

bool DataSource::hasChanges() const
{
    for (const Binding& b : m_bindings)
        if (b.get() != m_record.value(b.field.toLower())) return true;
    return false;
}

void DataSource::save()
{
    if (!m_loaded) return;
    FieldValues changes;
    for (const Binding& b : m_bindings) {
        const QString now = b.get();
        const QString key = b.field.toLower();
        if (now == m_record.value(key)) continue;
        // A field bound twice is written once, with the value of its last binding.
        auto it = std::find_if(changes.begin(), changes.end(),
                               [&](const auto& c) { return c.first.toLower() == key; });
        if (it != changes.end())
            it->second = now;
        else
            changes.emplace_back(b.field, now);
    }
    m_db.writeSettings(changes);
    for (const auto& [field, value] : changes)
        m_record.insert(field.toLower(), value);
}

void DataSource::close()
{
    if (!m_loaded) return;
    if (m_validate && !m_validating) {
        m_validating = true;
        try {
            m_validate();
        } catch (...) {
            m_validating = false;
            throw;
        }
        m_validating = false;
    }
    save();
}

void DataSource::writeField(const QString& field, const QString& value)
{
    m_db.writeSettings({{field, value}});
    m_record.insert(field.toLower(), value);
}

} // namespace kestra::store
