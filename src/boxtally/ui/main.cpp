// boxtally: the desktop window.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <exception>

#include "boxtally/ui/application.h"
#include "boxtally/ui/main_window.h"
#include "boxtally/ui/settings.h"
#include "platform/paths.h"
#include "platform/termination.h"

namespace {
constexpr int kTerminationCheckMs = 250;
}  // namespace

int main(int argc, char** argv) {
  // A closed standard stream must not lend its number to the first file the program opens.
  platform::ReserveStandardDescriptors();
  QApplication app(argc, argv);
  ui::PrepareApplication(app);
  try {
    ui::MainWindow window(ui::DefaultSettingsFilePath());
    // SIGTERM and SIGHUP (a logout, say) close the window as the user would: a run stops after
    // the model in progress (running conversions end at once), the settings are saved and the
    // work folder goes.
    platform::InstallTerminationHandlers();
    // Made now, so work folders that dead runs left behind are cleared at start; a run without
    // one refuses to start with a message.
    (void)platform::WorkDirectory();
    QTimer termination;
    QObject::connect(&termination, &QTimer::timeout, &window, [&window] {
      if (platform::TerminationSignal() != 0) window.close();
    });
    termination.start(kTerminationCheckMs);
    window.show();
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("boxtally"), QString::fromLocal8Bit(e.what()));
  }
  return 1;
}
