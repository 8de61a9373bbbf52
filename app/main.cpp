#include "app/ConfiguratorApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    tessor::CConfiguratorApp app;
    return app.Run();
}
