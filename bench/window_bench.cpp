// A run in the window, on Qt's offscreen platform, as a user starts it: the models box, a new
// registry and log, "Générer" pressed, the results window open beside. Prints the run's seconds
// (the press to the end of the run) and writes the run's results as a report, so bench/run can
// compare the window with boxtally-cli over the same models.
// Usage: window_bench MODELS REGISTRY LOG REPORT
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <string>

#include "boxtally/driver/csv_report.h"
#include "boxtally/ui/application.h"
#include "boxtally/ui/main_window.h"
#include "boxtally/ui/results_window.h"

namespace {
// No modal box may wait for a user: a message ends up on standard error.
class BenchWindow : public ui::MainWindow {
 public:
  using MainWindow::MainWindow;

 protected:
  void ShowMessage(const QString& text) override {
    std::fprintf(stderr, "window_bench: %s\n", text.toUtf8().constData());
  }
};

bool WriteReport(const char* path, const std::vector<driver::ModelOutcome>& results) {
  std::string text = driver::CsvHeader(driver::EnglishWording(), driver::CsvStyle{});
  for (const driver::ModelOutcome& m : results) driver::AppendCsvRow(m, text);
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: window_bench MODELS REGISTRY LOG REPORT\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ui::PrepareApplication(app);
  const std::string registry = argv[2];
  BenchWindow window(registry + ".INI");
  window.models_edit_->setText(QString::fromLocal8Bit(argv[1]));
  window.registry_edit_->setText(QString::fromLocal8Bit(argv[2]));
  window.log_edit_->setText(QString::fromLocal8Bit(argv[3]));
  window.append_registry_box_->setChecked(false);  // a new registry, as -o
  window.append_log_box_->setChecked(false);
  window.show();
  window.ShowResults();  // the table fills while the run goes on
  QCoreApplication::processEvents();

  const auto start = std::chrono::steady_clock::now();
  window.run_button_->click();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", seconds);
  if (!WriteReport(argv[4], window.Results()->Model().Results())) {
    std::fprintf(stderr, "window_bench: cannot write %s\n", argv[4]);
    return 1;
  }
  return window.PanelText(1) == QStringLiteral("Done!") ? 0 : 1;
}
