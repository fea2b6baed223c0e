// boxtally: the desktop window.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "boxtally/ui/main_window.h"
#include "boxtally/ui/settings.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ui::PrepareApplication(app);
  try {
    ui::TForm1 window(ui::DefaultSettingsFilePath());
    window.show();
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("boxtally"), QString::fromLocal8Bit(e.what()));
  }
  return 1;
}
