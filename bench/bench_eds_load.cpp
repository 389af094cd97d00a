// Loading a large EDS file into the object tree, as FormCreate does, until
// the tree is on the screen: the window must not freeze for long. The file
// (about 10 MB, tens of thousands of sections) is generated first.
#include "EDS_unit.h"
#include "eds_tree_model.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

constexpr std::size_t kFileBytes = 10u << 20;
constexpr double kTargetMs = 500.0;

class FixedFile final : public EdsOpenDialog {
public:
    explicit FixedFile(QString name) : name_(std::move(name)) {}
    QString FileName() const override { return name_; }
    bool Execute() override { return false; }

private:
    QString name_;
};

// Objects of 8 sub-objects each, with the keys a real file carries.
std::string LargeEds()
{
    std::string text = "[FileInfo]\nFileName=large.eds\nEDSVersion=4.0\n\n";
    char buffer[512];
    for (unsigned object = 0; text.size() < kFileBytes; ++object) {
        const unsigned index = 0x2000 + object % 0xE000;
        std::snprintf(buffer, sizeof buffer,
                      "[%04X]\nParameterName=Object %u\nObjectType=0x9\nSubNumber=8\n\n", index, object);
        text += buffer;
        for (unsigned sub = 0; sub < 8; ++sub) {
            std::snprintf(
                buffer, sizeof buffer,
                "[%04Xsub%X]\nParameterName=Entry %u of object %u\nObjectType=0x7\nDataType=0x0007\n"
                "AccessType=rw\nDefaultValue=0x%08X\nPDOMapping=0\n\n",
                index, sub, sub, object, object * 8 + sub);
            text += buffer;
        }
    }
    return text;
}

QString* largeFile = nullptr;

void BM_LoadLargeEds(benchmark::State& state)
{
    FixedFile dialog(*largeFile);
    std::size_t sections = 0;
    for (auto _ : state) {
        QWidget sheet;
        sheet.resize(360, 540);
        auto* page = new TServiceObjects(&sheet);
        sheet.show();
        QCoreApplication::processEvents();
        page->LoadEDS(&dialog);
        // Until the view has laid out the expanded root and painted it.
        page->TreeView()->viewport()->repaint();
        QCoreApplication::processEvents();
        sections = page->Model()->NodeCount();
        state.PauseTiming();
        sheet.hide();
        state.ResumeTiming();
    }
    state.counters["sections"] = static_cast<double>(sections);
    state.counters["MB"] = static_cast<double>(QFile(*largeFile).size()) / (1 << 20);
    state.counters["target_ms"] = kTargetMs;
}
BENCHMARK(BM_LoadLargeEds)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("large.eds"));
    {
        QFile file(path);
        const std::string text = LargeEds();
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    largeFile = &path;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
