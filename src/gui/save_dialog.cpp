#include "gui/save_dialog.h"

#include <QByteArray>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QString>
#include <QStringList>

namespace kestrun::qt {

void PrepareSaveDialog(QFileDialog& dialog, const std::string& file_name, std::string_view filter) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Unless "overwrite" is ticked the recorder appends to the chosen file, so
    // a "replace it?" question would mislead.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())));
    dialog.setDefaultSuffix(QStringLiteral("dat"));
    dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(file_name)));
}

std::optional<std::string> RunSaveDialog(QWidget* parent, const std::string& file_name,
                                         std::string_view filter) {
    QFileDialog dialog(parent);
    PrepareSaveDialog(dialog, file_name, filter);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;

    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen.first()).toStdString();
}

}  // namespace kestrun::qt
