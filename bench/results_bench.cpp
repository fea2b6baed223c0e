// The results window over 100,000 models, on Qt's offscreen platform: the rows coming in as a run
// commits them (one by one into the run's feed, in batches into the table), a sort by a number
// column and by the names, a filter over names and reasons, and one paint of the table, each
// against a baseline done on the same records in plain C++ (a copy, std::stable_sort, a loop of
// QString::contains); the export as CSV for the desktop and as a workbook against boxtally-cli's
// CSV report. Prints milliseconds and ratios, best of three.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "boxtally/driver/csv_report.h"
#include "boxtally/driver/xlsx_report.h"
#include "boxtally/ui/report_export.h"
#include "boxtally/ui/results_window.h"
#include "boxtally/ui/run_feed.h"

namespace {
constexpr int kModels = 100000;

std::vector<driver::ModelOutcome> Records() {
  std::vector<driver::ModelOutcome> records(kModels);
  unsigned seed = 1;
  for (int i = 0; i < kModels; ++i) {
    driver::ModelOutcome& m = records[static_cast<std::size_t>(i)];
    seed = seed * 1103515245u + 12345u;
    m.name = "model" + std::to_string(seed % 1000000) + ".rwx";
    m.source = "/worlds/objects/" + m.name.substr(0, m.name.size() - 4) + ".zip";
    m.fate = seed % 50 == 0 ? driver::Fate::kFailed : driver::Fate::kMeasured;
    if (m.fate == driver::Fate::kFailed) m.reason = driver::Reason::kArchiveTruncated;
    const float w = static_cast<float>(seed % 20000) / 1000.0f;
    m.box = {-w / 2, 0, -1, w / 2, 2, 1};
    m.vertices = static_cast<std::int32_t>(seed % 5000);
  }
  return records;
}

double BestMs(const std::function<void()>& setup, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    setup();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best;
}

void Row(const char* what, double ms, const char* baseline, double base_ms) {
  std::printf("  %-40s %8.1f ms   %-34s %8.1f ms   %6.1f x\n", what, ms, baseline, base_ms,
              base_ms > 0 ? ms / base_ms : 0.0);
}
}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::vector<driver::ModelOutcome> records = Records();
  ui::ResultsWindow window;
  window.resize(900, 500);
  window.show();
  QTableView* table = window.Table();
  std::printf("Results window, %d models (offscreen):\n", kModels);

  // As a run hands them over: one by one to the feed, in batches to the table.
  ui::RunFeed feed(
      {{}, {}, [&](std::vector<driver::ModelOutcome> batch) { window.Add(std::move(batch)); }});
  const double append = BestMs([&] { window.StartRun(QString()); }, [&] {
    feed.Start();
    for (const driver::ModelOutcome& m : records) feed.Commit(m);
    feed.Finish();
  });
  std::vector<driver::ModelOutcome> copy;
  const double copy_ms = BestMs([&] { copy.clear(); }, [&] {
    for (const driver::ModelOutcome& m : records) copy.push_back(m);
  });
  Row("rows committed one by one", append, "copying the records", copy_ms);

  std::vector<int> order(kModels);
  const auto reset_order = [&] { std::iota(order.begin(), order.end(), 0); };
  const double sort_width = BestMs([&] { table->sortByColumn(-1, Qt::AscendingOrder); }, [&] {
    table->sortByColumn(ui::kColumnWidth, Qt::DescendingOrder);
  });
  const double base_width = BestMs(reset_order, [&] {
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return records[a].box[3] - records[a].box[0] > records[b].box[3] - records[b].box[0];
    });
  });
  Row("sort by Largeur", sort_width, "std::stable_sort by width", base_width);

  const double sort_name = BestMs([&] { table->sortByColumn(-1, Qt::AscendingOrder); }, [&] {
    table->sortByColumn(ui::kColumnName, Qt::AscendingOrder);
  });
  const double base_name = BestMs(reset_order, [&] {
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return records[a].name < records[b].name; });
  });
  Row("sort by Modèle", sort_name, "std::stable_sort by name", base_name);

  const double filter = BestMs([&] { window.Filter().SetText(QString()); }, [&] {
    window.Filter().SetText(QStringLiteral("TRONQ"));
  });
  int hits = 0;
  const double base_filter = BestMs([&] { hits = 0; }, [&] {
    for (const driver::ModelOutcome& m : records) {
      hits += QString::fromStdString(m.name).contains(QStringLiteral("TRONQ"), Qt::CaseInsensitive);
    }
  });
  Row("filter names and reasons", filter, "QString::contains over the names", base_filter);

  window.Filter().SetText(QString());
  const double paint = BestMs([&] { table->scrollToTop(); }, [&] {
    table->scrollToBottom();
    (void)table->viewport()->grab();
  });
  const double paint_one = BestMs([&] { window.StartRun(QString()); }, [&] {
    window.Add({records.front()});
    table->scrollToBottom();
    (void)table->viewport()->grab();
  });
  Row("scroll to the end and paint", paint, "the same over one row", paint_one);

  // Into a file made anew each time, as an export makes it (without its final fsync).
  const std::string file = std::string(P_tmpdir) + "/results_bench_export";
  int fd = -1;
  const auto open_file = [&] {
    if (fd >= 0) close(fd);
    fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  };
  const double csv = BestMs(open_file, [&] { (void)driver::WriteCsvReport(fd, records); });
  const double french = BestMs(open_file, [&] {
    (void)driver::WriteCsvReport(fd, records, ui::FrenchWording(),
                                 ui::SpreadsheetCsvStyle(QLocale(QLocale::French)));
  });
  Row("export as CSV for the desktop", french, "boxtally-cli's CSV report", csv);
  const double workbook = BestMs(open_file, [&] {
    (void)driver::WriteXlsxReport(fd, records, ui::FrenchWording());
  });
  Row("export as a workbook", workbook, "boxtally-cli's CSV report", csv);
  close(fd);
  unlink(file.c_str());
  return hits < 0;
}
