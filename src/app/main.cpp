#include "app/ctestapp.h"
#include "app/ending_signals.h"

int main(int argc, char** argv) {
    // A Save or CSV-Save ended by a signal leaves the old file and nothing hidden beside it.
    RemoveUnfinishedFilesOnSignals();
    CtestApp app;
    return app.InitInstance(argc, argv);
}
