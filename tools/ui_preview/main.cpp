// Opens the main window with sample texts and pictures, wires the secondary
// windows as the launcher does, and appends every event to a log file:
//   ui_preview.exe LOG [--picture CONTROL FILE]... [--address URL] [--log-shell] [--offline]
// With --log-shell, shell opens (the announcement link) are logged instead of
// reaching the system. With --offline the announcement shows its offline view
// (as if the page had failed) and every change of the page's state is logged.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/system.h"
#include "ui/window_backend.h"
#include "ui/designs.h"
#include "ui/ui.h"

namespace {

using ui::Event;
using ui::WindowId;

std::ofstream gLog;

void Log(const std::string& line) {
  if (!gLog.is_open()) return;
  gLog << line << '\n';
  gLog.flush();
}

const char* WindowName(WindowId id) {
  switch (id) {
    case WindowId::Main: return "main";
    case WindowId::Settings: return "settings";
    default: return "prompt";
  }
}

const char* EventName(Event e) {
  switch (e) {
    case Event::Created: return "created";
    case Event::Destroying: return "destroying";
    case Event::Clicked: return "clicked";
    case Event::TickChanged: return "tick";
    case Event::ItemSelected: return "selected";
    default: return "timer";
  }
}

struct Slot {
  const char* button;
  const char* start;
  const char* install;
  std::string name;
  bool installed;
};

}  // namespace

int main(int argc, char** argv) {
  platform::InitRuntime();
  std::vector<std::string> args = platform::CommandLineArgs(argc, argv);
  std::vector<std::pair<std::string, std::string>> pictures;
  std::string address = "https://www.example.com/notice/index.html";
  bool offline = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--picture" && i + 2 < args.size()) {
      pictures.emplace_back(args[i + 1], args[i + 2]);
      i += 2;
    } else if (args[i] == "--address" && i + 1 < args.size()) {
      address = args[++i];
    } else if (args[i] == "--offline") {
      offline = true;
    } else if (args[i] == "--log-shell") {
      platform::SetShellHook([](const platform::ShellCall& call) {
        Log("shell open " + call.file);
        return 42;  // above 32: opened
      });
    } else if (!gLog.is_open()) {
      gLog.open(args[i], std::ios::app);
    }
  }

  std::unique_ptr<ui::Backend> backend = ui::CreateWindowBackend();
  ui::Ui ui(*backend);
  // The page's state as the panel sees it, polled: the model raises no event for it.
  std::thread pageWatch;
  if (offline) {
    std::shared_ptr<ui::Dispatcher> d = ui.dispatcher();
    pageWatch = std::thread([d, &ui] {
      int last = -1;
      for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bool posted = d->Post([&ui, &last] {
          const ui::ControlState* c = ui.Control(WindowId::Main, "浏览框Ex1");
          int now = c ? static_cast<int>(c->page) : -1;
          if (c && now != last) Log("page " + std::to_string(now));
          last = now;
        });
        if (!posted) return;
      }
    });
  }

  Slot slots[4] = {
      {"版本一按钮", "开始游戏按钮_Ravik", "安装游戏按钮_Ravik", "经典怀旧版", true},
      {"版本二按钮", "开始游戏按钮_Solen", "安装游戏按钮_Solen", "烈焰传奇版", false},
      {"版本三按钮", "开始游戏按钮_Tavor", "安装游戏按钮_Tavor", "星辰远征版", true},
      {"版本四按钮", "开始游戏按钮_Nuvik", "安装游戏按钮_Nuvik", "", false},  // not offered yet
  };
  auto select = [&](int n) {
    for (int i = 0; i < 4; ++i) {
      ui.SetSelectedLook(WindowId::Main, slots[i].button, i == n);
      ui.SetVisible(WindowId::Main, slots[i].start, false);
      ui.SetVisible(WindowId::Main, slots[i].install, false);
    }
    ui.SetVisible(WindowId::Main, slots[n].installed ? slots[n].start : slots[n].install, true);
    ui.SetText(WindowId::Main, "最近登录标签", slots[n].installed ? "电信一区·龙腾" : "未安装");
  };

  // Log every event of every control, then add the launcher's behaviour.
  for (WindowId id : {WindowId::Main, WindowId::Settings, WindowId::Prompt}) {
    for (const ui::ControlSpec& c : ui::DesignOf(id).controls) {
      for (Event e : {Event::Clicked, Event::TickChanged, Event::ItemSelected, Event::TimerTick}) {
        std::string name(c.name);
        ui.Bind(id, name, e, [id, name, e](int arg) {
          Log(std::string(WindowName(id)) + " " + name + " " + EventName(e) + " " + std::to_string(arg));
        });
      }
    }
  }
  auto chain = [&](WindowId id, const std::string& name, Event e, std::function<void(int)> then) {
    ui.Bind(id, name, e, [id, name, e, then](int arg) {
      Log(std::string(WindowName(id)) + " " + name + " " + EventName(e) + " " + std::to_string(arg));
      then(arg);
    });
  };

  ui.Bind(WindowId::Main, "", Event::Created, [&](int) {
    Log("main created");
    ui.SetText(WindowId::Main, "适龄提示标签", "适龄提示：适合16岁以上使用");
    for (int i = 0; i < 4; ++i) ui.SetText(WindowId::Main, slots[i].button, slots[i].name);
    for (auto& [control, file] : pictures) ui.SetPicture(WindowId::Main, control, platform::ReadWholeFile(file).value_or(platform::Bytes{}));
    ui.SetText(WindowId::Main, "透明标签_进度", "正在下载：45.0%  已下载 412.3MB / 916.2MB  速度 2.41MB/s");
    ui.SetMaximum(WindowId::Main, "进度条Ex1", 10000);
    ui.SetPosition(WindowId::Main, "进度条Ex1", 4500);
    ui.SetVisible(WindowId::Main, "进度条Ex1", false);
    ui.SetVisible(WindowId::Main, "透明标签_进度", false);
    ui.LoadWebPage(WindowId::Main, "浏览框Ex1", address);
    if (offline) ui.PageFailed(WindowId::Main, "浏览框Ex1");
    ui.SetInterval(WindowId::Main, "时钟1", 500);
    select(0);
  });
  ui.Bind(WindowId::Main, "", Event::Destroying, [](int) { Log("main destroying"); });
  int ticks = 0;
  ui.Bind(WindowId::Main, "时钟1", Event::TimerTick, [&](int) {
    if (++ticks == 2) Log("main 时钟1 timer 0");
    if (ticks >= 2) ui.SetInterval(WindowId::Main, "时钟1", 0);
  });
  for (int i = 0; i < 4; ++i) {
    chain(WindowId::Main, slots[i].button, Event::Clicked, [&, i](int) {
      if (slots[i].name.empty())
        ui.LoadWindow(WindowId::Prompt, true);
      else
        select(i);
    });
    chain(WindowId::Main, slots[i].install, Event::Clicked, [&](int) {
      // Show what an install looks like.
      ui.SetVisible(WindowId::Main, "进度条Ex1", true);
      ui.SetVisible(WindowId::Main, "透明标签_进度", true);
    });
  }
  chain(WindowId::Main, "游戏设置图片按钮", Event::Clicked, [&](int) { ui.LoadWindow(WindowId::Settings, false); });
  chain(WindowId::Main, "客户服务图片按钮", Event::Clicked, [&](int) {
    bool on = !ui.Control(WindowId::Main, "版本二按钮")->disabled;
    ui.SetDisabled(WindowId::Main, "版本二按钮", on);  // shows the disabled look
  });
  chain(WindowId::Main, "图片按钮Ex4", Event::Clicked, [&](int) { ui.SetWindowState(WindowId::Main, 2); });
  chain(WindowId::Main, "图片按钮Ex5", Event::Clicked, [&](int) { ui.CloseWindow(WindowId::Main); });
  ui.Bind(WindowId::Settings, "", Event::Created, [&](int) {
    Log("settings created");
    ui.SetSelectedItem(WindowId::Settings, "分辨率组合框", 2);
    ui.SetChecked(WindowId::Settings, "窗口模式选择框", false);
  });
  chain(WindowId::Settings, "游戏设置窗口关闭按钮", Event::Clicked, [&](int) { ui.CloseWindow(WindowId::Settings); });
  chain(WindowId::Prompt, "提示窗口关闭按钮", Event::Clicked, [&](int) { ui.CloseWindow(WindowId::Prompt); });

  if (!ui.LoadWindow(WindowId::Main, false)) {
    Log("main failed");
    return 1;
  }
  // A post from another thread reaches the window thread.
  std::shared_ptr<ui::Dispatcher> d = ui.dispatcher();
  std::thread([d] { d->Post([] { Log("posted ran"); }); }).join();
  ui.Run();
  d->Close();
  if (pageWatch.joinable()) pageWatch.join();
  Log("exit");
  return 0;
}
