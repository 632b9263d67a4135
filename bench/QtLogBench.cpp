// appendNarrow into the desktop program's log control at steady state. Runs on the offscreen
// platform unless QT_QPA_PLATFORM names another.

#include <QApplication>

#include "LogAppend.h"
#include "ui/qt/QtEditControl.h"

namespace tarven {
namespace {

class QtLogWindow : public Window {
  public:
    EditControl* findControl(int id) override { return id == kLogControlId ? &log_ : nullptr; }

  private:
    QtEditControl log_;
};

void AppendNarrowQtControl(benchmark::State& state) {
    QtLogWindow window;
    bench::appendChunkAtSteadyState(state, window);
}
BENCHMARK(AppendNarrowQtControl)->Apply(bench::lineLengths);

// A full log's worth of LF-only lines replacing the one the control holds, as the last delivery
// of a fast answer makes it: the cut, the insert and the layout the event loop then does.
void DeliverFullLogQtControl(benchmark::State& state) {
    QtEditControl log;
    log.resize(600, 400);
    log.show();
    std::u16string lines;
    while (lines.size() + 62 <= static_cast<std::size_t>(kLogCharacterLimit))
        lines += u"{\"id\": 1234567, \"name\": \"Tarven benchmark line\", \"ok\": true}\n";
    log.setText(lines.c_str());
    QCoreApplication::processEvents();
    for (auto _ : state) {
        log.setSelection(0, static_cast<std::int64_t>(lines.size()));
        log.replaceSelection(u"");
        log.setSelection(0, 0);
        log.replaceSelection(lines.c_str());
        QCoreApplication::processEvents();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()) * 2);
}
BENCHMARK(DeliverFullLogQtControl)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarven

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
