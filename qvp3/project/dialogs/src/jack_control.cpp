#include "qvp3_dialogs/jack_control.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

namespace qvp3 {

std::optional<std::filesystem::path> audFindJackControl() {
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(kJackControlProgramName));
    if (found.isEmpty()) return std::nullopt;
    return std::filesystem::path(found.toStdString());
}

bool audStartJackControl(const std::filesystem::path& program, const std::string& server) {
    QProcess process;
    process.setProgram(QString::fromStdString(program.string()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (server == "default") {
        environment.remove(QStringLiteral("JACK_DEFAULT_SERVER"));
    } else {
        environment.insert(QStringLiteral("JACK_DEFAULT_SERVER"), QString::fromStdString(server));
    }
    process.setProcessEnvironment(environment);
    return process.startDetached();
}

}  // namespace qvp3
