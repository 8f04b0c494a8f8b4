#include "storage/store/datasource.h"

#include <algorithm>

namespace kestra::store {

void DataSource::bind(const QString& field, Getter get, Setter set)
{
    m_bindings.push_back({field, std::move(get), std::move(set), {}});
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
    for (Binding& b : m_bindings)
        b.shown = b.get();
}

bool DataSource::hasChanges() const
{
    return std::any_of(m_bindings.begin(), m_bindings.end(),
                       [](const Binding& b) { return b.get() != b.shown; });
}

void DataSource::save()
{
    if (!m_loaded) return;
    FieldValues changes;
    std::vector<QString> now;
    for (const Binding& b : m_bindings) {
        now.push_back(b.get());
        const QString key = b.field.toLower();
        if (now.back() == b.shown) continue;
        // A field bound twice is written once, with the value of its last binding.
        auto it = std::find_if(changes.begin(), changes.end(),
                               [&](const auto& c) { return c.first.toLower() == key; });
        if (it != changes.end())
            it->second = now.back();
        else
            changes.emplace_back(b.field, now.back());
    }
    m_db.writeSettings(changes);
    for (const auto& [field, value] : changes)
        m_record.insert(field.toLower(), value);
    for (size_t i = 0; i < m_bindings.size(); ++i)
        m_bindings[i].shown = now[i];
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
    writeFields({{field, value}});
}

void DataSource::writeFields(const FieldValues& values)
{
    m_db.writeSettings(values);
    noteWritten(values);
}

void DataSource::noteWritten(const FieldValues& values)
{
    for (const auto& [field, value] : values) {
        m_record.insert(field.toLower(), value);
        for (Binding& b : m_bindings)
            if (b.field.compare(field, Qt::CaseInsensitive) == 0) b.shown = value;
    }
}

} // namespace kestra::store
