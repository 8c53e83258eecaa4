#pragma once

// A row with one or more file paths, or a folder. Activating it opens the desktop's file dialog
// (or folder chooser); the chosen paths replace the row's, and the row commits, also when the
// dialog was cancelled. The closed value shows the paths, or parts of them, by option.

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>

#include <QStringList>

class QFileDialog;

namespace qarn {

class COptionTreeItemFile : public COptionTreeItem {
  public:
    enum Option : std::uint32_t {
        OptionShowFileName = 0x10,  // "report.txt" instead of "/home/u/report.txt"
        OptionShowFileTitle = 0x20, // "report"
        OptionMultiSelect = 0x100,  // several files at once
        OptionSaveDialog = 0x200,   // a file to write, which need not exist yet
        OptionFolder = 0x8000,      // a folder instead of files
    };

    COptionTreeItemFile() = default;

    // False when the item is not in a tree yet or was created.
    bool CreateFileItem(std::uint32_t options, const QStringList& paths = {});

    void SetPaths(const QStringList& paths);
    QStringList GetPaths() const { return m_paths; }
    // The dialog's type filter, "Images (*.png *.jpg)"; by default the bundle's "All files (*)".
    void SetFilter(const QString& filter) { m_filter = filter; }
    // The shown value: the paths as the options ask, separated by "; ".
    QString GetDisplayText() const;
    // The dialog while it is open (tests and the owner may close it), else null.
    QFileDialog* GetDialog() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    QWidget* FocusEditor() const override { return nullptr; }
    TabStop GetTabStop() const override;

  private:
    bool m_created = false;
    std::uint32_t m_options = 0;
    QStringList m_paths;
    QString m_filter;
};

} // namespace qarn
