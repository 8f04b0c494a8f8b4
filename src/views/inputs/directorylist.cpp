#include "views/inputs/directorylist.h"

#include <QDir>
#include <QFileInfo>

namespace kestra::inputs {

namespace {
constexpr int kPathRole = Qt::UserRole;
const QString kIndent = QStringLiteral("  ");
} // namespace

DirectoryList::DirectoryList(const QString& name, QWidget* parent) : QListWidget(parent)
{
    setObjectName(name);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // The list is rebuilt after the view has finished with the activated item.
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const QString dir = item->data(kPathRole).toString();
        QMetaObject::invokeMethod(
            this, [this, dir] { setPath(dir); }, Qt::QueuedConnection);
    });
}

void DirectoryList::setPath(const QString& dir)
{
    m_path = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    rebuild();
    emit pathChanged(m_path);
}

void DirectoryList::rebuild()
{
    clear();
    // The chain of directories from the root ("/") down to the current one.
    QStringList chain;
    for (QDir d(m_path);;) {
        chain.prepend(d.absolutePath());
        if (d.isRoot() || !d.cdUp()) break;
    }
    int depth = 0;
    QListWidgetItem* current = nullptr;
    for (const QString& p : chain) {
        const QString label = QDir(p).isRoot() ? p : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(kIndent.repeated(depth) + label, this);
        item->setData(kPathRole, p);
        current = item;
        ++depth;
    }
    const QDir here(m_path);
    const QStringList subdirs =
        here.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    for (const QString& s : subdirs) {
        auto* item = new QListWidgetItem(kIndent.repeated(depth) + s, this);
        item->setData(kPathRole, here.filePath(s));
    }
    if (current) {
        setCurrentItem(current);
        scrollToItem(current);
    }
}

} // namespace kestra::inputs
