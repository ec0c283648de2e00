#include "qvp3_shell/choosers.h"

#include <QFileDialog>
#include <QStringList>

namespace qvp3 {

namespace fs = std::filesystem;

namespace {
FileDialogResponder g_responder;
}

void setFileDialogResponder(FileDialogResponder responder) { g_responder = std::move(responder); }

std::vector<std::string> appFilterList(std::string_view filter) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < filter.size()) {
        std::size_t bar = filter.find('|', start);
        if (bar == std::string_view::npos) bar = filter.size();
        parts.emplace_back(filter.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<std::string> filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i + 1].empty()) continue;
        std::string patterns = parts[i + 1];
        for (char& c : patterns) {
            if (c == ';') c = ' ';
        }
        filters.push_back(parts[i] + " (" + patterns + ")");
    }
    return filters;
}

std::string_view appFileDialogHelpTopic(int purpose) {
    switch (purpose) {
    case 40022: return "projekt_laden";
    case 40009: return "Datei_hinzufügen";
    case 40024: return "projekt_speichern";
    case 1022: return "einst_allg";
    default: return "hall";
    }
}

std::vector<fs::path> appFileDialog(QWidget* owner, const FileDialogRequest& request) {
    if (g_responder) return g_responder(request);
    QFileDialog dialog(owner, QString::fromStdString(request.title), QString::fromStdString(request.initialFolder.string()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile
                                    : request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    QStringList filters;
    for (const std::string& f : appFilterList(request.filter)) filters << QString::fromStdString(f);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.proposedName.empty()) dialog.selectFile(QString::fromStdString(request.proposedName));
    if (dialog.exec() != QDialog::Accepted) return {};
    std::vector<fs::path> chosen;
    for (const QString& file : dialog.selectedFiles()) chosen.emplace_back(file.toStdString());
    return chosen;
}

fs::path appBrowseForFolder(QWidget* owner, const fs::path& initialFolder) {
    if (g_responder) {
        FileDialogRequest request;
        request.initialFolder = initialFolder;
        request.purpose = -1;
        std::vector<fs::path> chosen = g_responder(request);
        return chosen.empty() ? fs::path() : chosen.front();
    }
    const QString folder = QFileDialog::getExistingDirectory(owner, QString(), QString::fromStdString(initialFolder.string()),
                                                             QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
    return folder.toStdString();
}

}  // namespace qvp3
