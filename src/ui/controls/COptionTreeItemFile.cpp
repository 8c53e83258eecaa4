#include "ui/controls/COptionTreeItemFile.h"

#include "app/Resources.h"
#include "ui/controls/COptionTree.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QPointer>

namespace qarn {

namespace {

constexpr unsigned kAllFilesFilter = 2108;
constexpr unsigned kFolderTitle = 2116;

} // namespace

bool COptionTreeItemFile::CreateFileItem(std::uint32_t options, const QStringList& paths) {
    if (GetTree() == nullptr || m_created)
        return false;
    m_created = true;
    m_options = options;
    m_paths = paths;
    GetTree()->UpdateTree();
    return true;
}

void COptionTreeItemFile::SetPaths(const QStringList& paths) {
    m_paths = paths;
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
}

QString COptionTreeItemFile::GetDisplayText() const {
    QStringList shown;
    for (const QString& path : m_paths) {
        const QFileInfo info(path);
        if ((m_options & OptionShowFileTitle) != 0)
            shown.append(info.completeBaseName());
        else if ((m_options & OptionShowFileName) != 0)
            shown.append(info.fileName());
        else
            shown.append(QDir::toNativeSeparators(path));
    }
    return shown.join(QStringLiteral("; "));
}

QFileDialog* COptionTreeItemFile::GetDialog() const {
    if (GetTree() == nullptr)
        return nullptr;
    return GetTree()->findChild<QFileDialog*>(QStringLiteral("fileDialog_%1").arg(GetID()));
}

void COptionTreeItemFile::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    painter.setPen(ValueTextColor());
    // A long path keeps its end, where the file's own name is.
    const QString shown =
        painter.fontMetrics().elidedText(GetDisplayText(), Qt::ElideMiddle, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void COptionTreeItemFile::OnActivate() {
    if (!m_created || GetDialog() != nullptr)
        return;
    auto* dialog = new QFileDialog(GetTree());
    dialog->setObjectName(QStringLiteral("fileDialog_%1").arg(GetID()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if ((m_options & OptionFolder) != 0) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->setWindowTitle(ResourceString(kFolderTitle));
    } else {
        const QString all = ResourceString(kAllFilesFilter);
        dialog->setNameFilter(!m_filter.isEmpty() ? m_filter
                              : all.isEmpty()     ? QStringLiteral("*")
                                                  : all);
        if ((m_options & OptionSaveDialog) != 0) {
            dialog->setAcceptMode(QFileDialog::AcceptSave);
            dialog->setFileMode(QFileDialog::AnyFile);
        } else {
            dialog->setFileMode((m_options & OptionMultiSelect) != 0 ? QFileDialog::ExistingFiles
                                                                     : QFileDialog::ExistingFile);
        }
    }
    // Open where the current path lies, with its name ready; a folder that is gone gives home.
    if (!m_paths.isEmpty()) {
        const QFileInfo current(m_paths.first());
        const QDir folder = (m_options & OptionFolder) != 0 ? QDir(current.absoluteFilePath())
                                                            : current.absoluteDir();
        if (folder.exists())
            dialog->setDirectory(folder);
        else
            dialog->setDirectory(QDir::home());
        if ((m_options & OptionFolder) == 0)
            dialog->selectFile(current.fileName());
    }
    QPointer<QObject> alive = Context();
    QObject::connect(dialog, &QFileDialog::finished, Context(), [this, alive, dialog](int result) {
        if (alive == nullptr)
            return;
        if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            m_paths = dialog->selectedFiles();
        Commit(false); // last: the owner may delete the row
    });
    dialog->open();
}

COptionTreeItem::TabStop COptionTreeItemFile::GetTabStop() const {
    return m_created ? TabStop::Focus : TabStop::Skip;
}

} // namespace qarn
