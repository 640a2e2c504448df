// A probe for checking an installed package: loaded into the installed
// program with LD_PRELOAD, never installed itself. From inside the real
// program it waits for the start-up scan to end, prints which wnaspi32 the
// program loaded and what the window shows, and ends the process. With
// the simulated bus it makes a Quick read-only run first, so that the check
// can see where the logs went; real drives are only listed. Output lines: "aspi: <path>", "alarm: <text>",
// "drive: <slot line>", "judge: <JUDGE>", "finished", or "timeout".
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr int kTickMs = 50;
constexpr qint64 kLimitMs = 150000;
const char* const kSlotLines[] = {"id0l", "id1l", "id2l", "id3l", "id4l", "id5l", "id6l"};
const char* const kJudgeLabels[] = {"J0", "J1", "J2", "J3", "J4", "J5", "J6"};

// The program names every widget after its control.
QWidget* Find(const char* name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* w = top->findChild<QWidget*>(QString::fromLatin1(name))) return w;
    }
    return nullptr;
}

bool Ready(const char* name) {
    QWidget* w = Find(name);
    return w != nullptr && w->isVisible() && w->isEnabled();
}

std::string Text(const char* name) {
    auto* label = qobject_cast<QLabel*>(Find(name));
    return label == nullptr ? std::string() : label->text().simplified().toStdString();
}

void Click(const char* name) {
    if (auto* button = qobject_cast<QAbstractButton*>(Find(name))) button->click();
}

std::string LoadedAspiLibrary() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto at = line.find('/');
        if (at != std::string::npos && line.ends_with("/libwnaspi32.so")) return line.substr(at);
    }
    return "none";
}

// The simulated bus is the library with the control interface for tests.
bool IsSimulatedBus(const std::string& library) {
    void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    const bool simulated = dlsym(handle, "sim_reset_default") != nullptr;
    dlclose(handle);
    return simulated;
}

[[noreturn]] void Finish(const char* last, int code) {
    std::printf("%s\n", last);
    std::fflush(nullptr);
    std::_Exit(code);
}

enum class Stage { Scan, List, Run };

class Probe {
public:
    Probe() {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start(kTickMs);
    }

private:
    void Tick() {
        if (clock_.elapsed() > kLimitMs) Finish("timeout", 1);
        switch (stage_) {
            case Stage::Scan:
                if (Ready("OK")) {
                    std::printf("aspi: %s\nalarm: %s\n", LoadedAspiLibrary().c_str(), Text("error").c_str());
                    Finish("finished", 0);
                }
                if (Ready("accept")) {
                    const std::string library = LoadedAspiLibrary();
                    std::printf("aspi: %s\n", library.c_str());
                    simulated_ = IsSimulatedBus(library);
                    Click("accept");
                    stage_ = Stage::List;
                }
                break;
            case Stage::List: {
                // The panel of the drive list shows once the slot lines are filled.
                QWidget* list = Find("connect");
                if (list == nullptr || !list->isVisible()) break;
                int listed = 0;
                for (const char* line : kSlotLines) {
                    const std::string text = Text(line);
                    if (text.empty()) continue;
                    std::printf("drive: %s\n", text.c_str());
                    ++listed;
                }
                if (listed == 0 || !simulated_ || !Ready("Button4")) Finish("finished", 0);
                Click("SmtTest");
                Click("Button4");
                stage_ = Stage::Run;
                break;
            }
            case Stage::Run:
                if (!Ready("TEST")) break;
                for (const char* judge : kJudgeLabels) {
                    const std::string text = Text(judge);
                    if (!text.empty()) std::printf("judge: %s\n", text.c_str());
                }
                Finish("finished", 0);
        }
    }

    QElapsedTimer clock_;
    QTimer timer_;
    Stage stage_ = Stage::Scan;
    bool simulated_ = false;
};

// Runs inside the application's constructor; the probe starts once the
// program's event loop does.
void StartProbe() {
    QTimer::singleShot(0, QCoreApplication::instance(), [] { new Probe(); });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartProbe)
