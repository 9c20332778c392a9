// The window tests: one QApplication for every test class, on the offscreen platform unless the
// environment chooses another. Each test file offers the function that runs its class.
#include <QApplication>
#include <cstdlib>

int runLevelBarTest(int argc, char** argv);
int runMainWindowTest(int argc, char** argv);
int runChannelDialogTest(int argc, char** argv);
int runGeneralSettingsTest(int argc, char** argv);
int runLevelGridTest(int argc, char** argv);
int runAboutBoxTest(int argc, char** argv);
int runChannelAssignmentTest(int argc, char** argv);

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int failed = 0;
    for (auto run : {runLevelBarTest, runMainWindowTest, runChannelDialogTest, runGeneralSettingsTest, runLevelGridTest,
                     runAboutBoxTest, runChannelAssignmentTest})
        failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}
