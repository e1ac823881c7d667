#include "app/ctestapp.h"

int main(int argc, char** argv) {
    CtestApp app;
    return app.InitInstance(argc, argv);
}
