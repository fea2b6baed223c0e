#include "boxtally/ui/application.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <clocale>

namespace ui {

void PrepareApplication(QApplication& app) {
  std::setlocale(LC_NUMERIC, "C");
  // Without the translations (not installed) Qt's dialogs stay English; nothing else changes.
  auto* qt_texts = new QTranslator(&app);
  if (qt_texts->load(QStringLiteral("qtbase_fr"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(qt_texts);
  }
  app.setApplicationName(QStringLiteral("boxtally"));
  app.setDesktopFileName(QStringLiteral("boxtally"));
  app.setWindowIcon(QIcon::fromTheme(QStringLiteral("boxtally")));
}

}  // namespace ui
