// The application around the window, set up once before the window is made.
#pragma once

class QApplication;

namespace ui {

// After the QApplication exists: locale-free numbers (Qt took LC_NUMERIC from the desktop, and a
// French one would make printf write "1,50"), Qt's own French texts for its dialogs ("Annuler",
// "Enregistrer"; the window is French whatever the desktop's language), and the program's name
// and icon.
void PrepareApplication(QApplication& app);

}  // namespace ui
