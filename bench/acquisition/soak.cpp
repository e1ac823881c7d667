// Soak run: one acquisition of 100,000 samples at 10 kHz through the driver
// library the application loads (the simulated logger, found on the library
// search path), with the live view drawing into the real window. Reports lost
// frames and the process's CPU time as a share of the run's wall time.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <dlfcn.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>

#include "app/ctestdlg.h"
#include "device/driver.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const std::uint32_t samples = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 100000;

    CtestDlg dlg(DeviceBackend::SystemDriver());
    dlg.show();
    dlg.OnSearch();
    if (dlg.m_comboSerial->count() == 0) {
        std::fprintf(stderr, "soak: no logger found through %s\n", D2XX_LIBRARY_NAME);
        return 2;
    }
    dlg.m_editCount->setText(QString::number(samples));

    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    dlg.OnStart();
    // Wait as the application does: blocked in the event loop, not spinning.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!dlg.WorkersRunning() && !dlg.m_running.load()) {
            loop.quit();
        }
    });
    poll.start(50);
    loop.exec();
    const double wallSeconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpuSeconds = CpuSeconds() - cpuBefore;

    // The simulator counts the frames its bounded receive queue had to drop.
    std::uint64_t overruns = 0;
    bool counted = false;
    if (void* library = dlopen(D2XX_LIBRARY_NAME, RTLD_NOW | RTLD_NOLOAD)) {
        using OverrunCount = std::uint64_t (*)(unsigned);
        if (auto count = reinterpret_cast<OverrunCount>(dlsym(library, "VosSim_OverrunCount"))) {
            overruns = count(static_cast<unsigned>(dlg.m_comboSerial->currentIndex()));
            counted = true;
        }
        dlclose(library);
    }

    std::printf("samples stored      %d of %u\n", dlg.m_sampleCount, samples);
    std::printf("wall time           %.3f s\n", wallSeconds);
    std::printf("process CPU time    %.3f s\n", cpuSeconds);
    std::printf("CPU share of a core %.1f %%\n", 100.0 * cpuSeconds / wallSeconds);
    if (counted) {
        std::printf("frames lost         %llu\n", static_cast<unsigned long long>(overruns));
    } else {
        std::printf("frames lost         unknown (the driver does not count them)\n");
    }
    const bool ok = dlg.m_dataValid && static_cast<std::uint32_t>(dlg.m_sampleCount) == samples && overruns == 0;
    return ok ? 0 : 1;
}
