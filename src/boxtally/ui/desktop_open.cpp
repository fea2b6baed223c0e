#include "boxtally/ui/desktop_open.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <memory>
#include <utility>

namespace ui {

namespace {
// xdg-open's own failures: the file does not exist, no tool for it, the action failed. Its
// other statuses may be those of the program it ran.
bool OpenerFailed(int status) { return status >= 2 && status <= 4; }
}  // namespace

bool OpenOnDesktop(const QUrl& url, QObject* owner, std::function<void()> failed) {
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (opener.isEmpty()) return QDesktopServices::openUrl(url);
  auto* process = new QProcess(owner);
  process->setProgram(opener);
  process->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString()});
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  auto report = std::make_shared<std::function<void()>>(std::move(failed));
  QObject::connect(process, &QProcess::finished, process,
                   [process, report](int status, QProcess::ExitStatus how) {
                     if (how == QProcess::NormalExit && OpenerFailed(status) && *report)
                       (*report)();
                     process->deleteLater();
                   });
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, report](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     if (*report) (*report)();
                     process->deleteLater();
                   });
  process->start();
  return true;
}

}  // namespace ui
