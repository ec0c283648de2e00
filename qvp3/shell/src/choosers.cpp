#include "qvp3_shell/choosers.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>

#include "platform/ini_file.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/help.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

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

std::string appProjectDescription(const fs::path& projectFile) {
    platform::IniDocument document;
    if (document.load(projectFile) != platform::IniStatus::Ok) return {};
    return document.getString("zq1 Project File", "ProjectDescription", "");
}

namespace {

QString text(int id) { return QString::fromStdString(qvp3ui::uiString(id)); }

// The controls the project chooser adds under its own.
void addOpenProjectControls(QFileDialog& dialog, QGridLayout& grid) {
    const int row = grid.rowCount();
    auto* label = new QLabel(text(158), &dialog);
    qvp3ui::setControlId(*label, 1001);
    auto* description = new QLabel(&dialog);
    qvp3ui::setControlId(*description, 1002);
    description->setFrameShape(QFrame::StyledPanel);
    description->setFrameShadow(QFrame::Sunken);
    description->setStyleSheet("background: white; color: black;");
    description->setMinimumHeight(18);
    auto* lastStep = new QCheckBox(text(159), &dialog);
    qvp3ui::setControlId(*lastStep, 1003);
    auto* checkSources = new QCheckBox(text(160), &dialog);
    qvp3ui::setControlId(*checkSources, 1004);
    if (g_appState) {
        lastStep->setChecked(g_appState->openOptionA);
        checkSources->setChecked(g_appState->openOptionB);
    }
    auto* categories = new QPushButton(text(155), &dialog);
    qvp3ui::setControlId(*categories, 1005);
    grid.addWidget(label, row, 0);
    grid.addWidget(description, row, 1, 1, grid.columnCount() - 1);
    grid.addWidget(lastStep, row + 1, 1);
    grid.addWidget(checkSources, row + 2, 1);
    grid.addWidget(categories, row + 1, grid.columnCount() - 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, description, [description](const QString& path) {
        description->setText(QString::fromStdString(appProjectDescription(path.toStdString())));
    });
    QObject::connect(&dialog, &QFileDialog::accepted, &dialog, [lastStep, checkSources] {
        if (!g_appState) return;
        g_appState->openOptionA = lastStep->isChecked();
        g_appState->openOptionB = checkSources->isChecked();
    });
}

void addSaveProjectControls(QFileDialog& dialog, QGridLayout& grid) {
    auto* data = new QPushButton(text(156), &dialog);
    qvp3ui::setControlId(*data, 1001);
    data->setMinimumWidth(180);
    grid.addWidget(data, grid.rowCount(), 0);
    QObject::connect(data, &QPushButton::clicked, &dialog, [] {
        if (g_appState && g_appState->mainWindow) g_appState->mainWindow->runCommand(40029);
    });
}

void addHelpButton(QFileDialog& dialog, int purpose) {
    auto* box = dialog.findChild<QDialogButtonBox*>();
    if (!box) return;
    QPushButton* help = box->addButton(QDialogButtonBox::Help);
    qvp3ui::setControlId(*help, 1038);
    const std::string topic(appFileDialogHelpTopic(purpose));
    QObject::connect(help, &QPushButton::clicked, &dialog, [topic] { appShowHelp(topic); });
}

}  // namespace

std::unique_ptr<QFileDialog> appMakeFileDialog(QWidget* owner, const FileDialogRequest& request) {
    auto dialog = std::make_unique<QFileDialog>(owner, QString::fromStdString(request.title),
                                                QString::fromStdString(request.initialFolder.string()));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(request.save ? QFileDialog::AnyFile
                                     : request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    QStringList filters;
    for (const std::string& f : appFilterList(request.filter)) filters << QString::fromStdString(f);
    if (!filters.isEmpty()) dialog->setNameFilters(filters);
    dialog->setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.proposedName.empty()) dialog->selectFile(QString::fromStdString(request.proposedName));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
        if (request.purpose == 40022) addOpenProjectControls(*dialog, *grid);
        if (request.purpose == 40024) addSaveProjectControls(*dialog, *grid);
    }
    addHelpButton(*dialog, request.purpose);
    return dialog;
}

std::vector<fs::path> appFileDialog(QWidget* owner, const FileDialogRequest& request) {
    if (g_responder) return g_responder(request);
    std::unique_ptr<QFileDialog> dialog = appMakeFileDialog(owner, request);
    if (dialog->exec() != QDialog::Accepted) return {};
    std::vector<fs::path> chosen;
    for (const QString& file : dialog->selectedFiles()) chosen.emplace_back(file.toStdString());
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
