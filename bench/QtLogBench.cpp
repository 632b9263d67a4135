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
