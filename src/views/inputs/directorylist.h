#pragma once

#include <QListWidget>

namespace kestra::inputs {

// A directory list: the path from the root down to the current directory, then
// its subdirectories, each indented one step more. Activating an entry (double
// click or Enter) makes it the current directory.
class DirectoryList : public QListWidget
{
    Q_OBJECT
public:
    explicit DirectoryList(const QString& name, QWidget* parent = nullptr);

    QString path() const { return m_path; }
    // Makes `dir` the current directory and shows it; emits pathChanged.
    void setPath(const QString& dir);

signals:
    void pathChanged(const QString& dir);

private:
    void rebuild();
    QString m_path;
};

} // namespace kestra::inputs
