// How long the control panel takes to open with a crew of 20 sessions: reading the CLIs' files,
// filling the session list and laying it out, as a click on the tray icon does. Prints a table.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppModel.h"
#include "base/LoopScheduler.h"
#include "shell/MenuContent.h"

int main(int argc, char** argv) {
  using namespace tallyloft;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  LoopScheduler loop{std::chrono::system_clock::now()};
  AppModel model(loop, std::nullopt);
  for (int i = 0; i < 20; ++i) {
    const std::string id = "session-" + std::to_string(i);
    for (const std::string& body :
         {R"({"hook_event_name":"UserPromptSubmit","session_id":")" + id +
              R"(","cwd":"/home/dev/work/project-)" + std::to_string(i) + R"("})",
          R"({"hook_event_name":"PreToolUse","session_id":")" + id +
              R"(","tool_name":"Bash","tool_input":{"command":"make test"}})",
          R"({"hook_event_name":"SubagentStart","session_id":")" + id +
              R"(","agent_id":"a","agent_type":"Explore"})"}) {
      model.receive(*HookEvent::decode(body, loop.now()));
    }
  }
  MenuContent menu(model, {});
  std::vector<double> times;
  for (int run = 0; run < 40; ++run) {
    const auto start = std::chrono::steady_clock::now();
    menu.recomputeStatus();
    menu.adjustSize();
    menu.show();
    QCoreApplication::processEvents();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    menu.hide();
    QCoreApplication::processEvents();
  }
  const double first = times.front();  // the first opening builds the list's rows
  std::sort(times.begin(), times.end());
  std::printf("| control panel, 20 sessions | runs | median ms | p90 ms | first ms |\n");
  std::printf("|---|---|---|---|---|\n");
  std::printf("| open (%s) | %zu | %.2f | %.2f | %.2f |\n",
              QGuiApplication::platformName().toUtf8().constData(), times.size(),
              times[times.size() / 2], times[times.size() * 9 / 10], first);
  return 0;
}
