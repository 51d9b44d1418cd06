// tavlo_wine_bench: Tavlo.exe's latency paths measured on real Win32 (under
// Wine), each beside a bare client doing the least the same path needs
// (tavlo_bare_client), and Tavlo.exe held idle for a measurement from outside.
// Run by benchmarks/wine-bench.sh; never a test.
//
//   tavlo_wine_bench latency [--keys N] [--rounds R] [--warm-up W] [--samples FILE]
//                    [--key-state] --pair NAME TAVLO_EXE BARE_EXE [--pair ...]
//   tavlo_wine_bench idle TAVLO_EXE
//
// Both need the test filter driver and the test keyboard, which they install
// and plug, and remove again at the end.
//
// latency: rounds of every contender in turn (Tavlo of the first pair, its
// bare client, Tavlo of the next pair, ...), so that what disturbs the
// machine hits them alike. Each round starts the contender, then measures
// W + N of each path, one at a time, each only after the previous one
// arrived, and drops the first W:
//   key       the driver signals the G key's event (the driver's stamp, just
//             before it sets the event) -> the character's key-down (VK_PACKET)
//             for this program's focused edit control is taken from its queue
//             (read on the same clock); key-shown: -> the edit holds it
//   layer     the driver signals the 0x76 key's press -> the layer-mode call
//             reaches the driver (the driver's stamps of both)
//   keyboard  this program pushes the Consumer-Control report 01 FE 00 to the
//             test keyboard (its clock before the push) -> the layer-mode call
//             reaches the driver (the driver's stamp)
// With --key-state each pair has a third contender on the key path only: the
// bare client that also reads Caps Lock and Shift (bare-key-state).
// Prints one line per path and contender:
//   result PATH NAME tavlo|bare|bare-key-state n=N p50_us=X p99_us=Y max_us=Z
// and, per contender and group of Linux processes (the contender, wineserver,
// winedevice, this program, the X server, explorer), the time they ran and
// waited on a run queue during its rounds, per measured event:
//   sched NAME CONTENDER GROUP run_us=X wait_us=Y
// and, with --samples, every sample as CSV (path,name,contender,round,us).
//
// idle: starts Tavlo.exe with the keyboard attached, prints "ready PID" once
// its start-up is over, waits for a line on standard input (the caller
// measures meanwhile), ends Tavlo.exe and prints "done".
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "layer/key_map.h"
#include "tests/driver/driver_control.h"
#include "tests/e2e/e2e_support.h"
#include "tests/keyboard/keyboard_control.h"

namespace {

constexpr int kSlot = 6;            // G: one code unit, U+0242
constexpr DWORD kArrivalMs = 5000;  // longest wait for one arrival
constexpr DWORD kStartMs = 20000;   // longest wait for a contender's start-up

using e2e::Print;

struct Pair {
  std::string name;
  std::wstring tavlo;
  std::wstring bare;
};

struct Contender {
  std::string name;
  bool bare;
  std::wstring exe;
  bool key_state = false;  // the bare client reads the key state too; key path only
  const char* label() const { return !bare ? "tavlo" : key_state ? "bare-key-state" : "bare"; }
};

// The environment every measurement shares: driver, keyboard, edit box.
class Bench {
 public:
  bool SetUp(bool with_box, std::string* error) {
    driver_ = new testdriver::ScopedDriver(e2e::WindowsPath(KBDFILTR_TEST_SYS));
    if (driver_->error() != ERROR_SUCCESS) {
      *error = "installing the test filter driver failed at " + driver_->failed_step();
      return false;
    }
    if (device_.Open() != ERROR_SUCCESS) {
      *error = "the driver's test device does not open";
      return false;
    }
    notify_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (device_.SetNotify(notify_) != ERROR_SUCCESS) {
      *error = "the driver takes no notify event";
      return false;
    }
    keyboards_ = new testkbd::Session;
    std::wstring plug_error;
    if (!keyboards_->ok() || !testkbd::Plug(&keyboard_, &plug_error)) {
      *error =
          "plugging the test keyboard failed: " + testkbd::Narrow(keyboards_->ok() ? plug_error : keyboards_->error());
      return false;
    }
    if (e2e::InstanceRunning()) e2e::RunKill(kill_exe_, 10000);
    if (with_box && !box_.Create(error)) return false;
    return true;
  }

  void TearDown() {
    std::wstring ignored;
    if (!keyboard_.instance_id.empty()) testkbd::Unplug(keyboard_, &ignored);
    delete keyboards_;
    keyboards_ = nullptr;
    device_.SetNotify(nullptr);
    device_.Close();
    delete driver_;
    driver_ = nullptr;
    if (notify_) CloseHandle(notify_);
    notify_ = nullptr;
  }

  // Starts a contender and waits until it is ready: its table installed and
  // (Tavlo) its initialisation, the start-up scan included, over.
  bool Start(const Contender& c, e2e::TavloProcess* process, std::string* error) {
    std::wstring args;
    if (c.bare) {
      wchar_t head[32];
      std::swprintf(head, 32, L"%x %x ", tavlo::LayerKeyMap[kSlot].ScanCode,
                    static_cast<unsigned>(tavlo::LayerKeyMap[kSlot].Text[0]));
      args = (c.key_state ? L"--key-state " : L"") + std::wstring(head) + L"\"" + keyboard_.interface_path + L"\"";
    }
    if (!process->Launch(c.exe, args, error)) return false;
    if (device_.WaitUntil([](const KbdTestState& s) { return s.TableInstalled != 0; }, kStartMs) != ERROR_SUCCESS) {
      *error = c.name + (c.bare ? " bare client" : " Tavlo") + " installed no key table";
      return false;
    }
    if (!c.bare && !process->WaitForMainWindow(kStartMs)) {
      *error = c.name + " Tavlo has no main window";
      return false;
    }
    return true;
  }

  bool Stop(const Contender& c, e2e::TavloProcess* process) {
    if (!c.bare) {
      e2e::RunKill(c.exe, 10000);
      process->WaitEnded(10000);
    }
    process->Terminate();
    return device_.WaitUntil([](const KbdTestState& s) { return s.ControlOpen == 0; }, 10000) == ERROR_SUCCESS;
  }

  // One round of every path (of the key path only with key_only); the
  // samples (microseconds) are appended.
  bool Round(int count, bool key_only, std::map<std::string, std::vector<double>>* samples, std::string* error) {
    if (!box_.Focus(error)) return false;
    std::vector<double> layer, key, shown, keyboard;
    // The layer path leaves the layer on, for the key path.
    if (!LayerPath(key_only ? 1 : count, &layer, error) || !KeyPath(count, &key, &shown, error) ||
        (!key_only && !KeyboardPath(count, &keyboard, error)))
      return false;
    (*samples)["key"] = key;
    (*samples)["key-shown"] = shown;
    if (key_only) return true;
    (*samples)["layer"] = layer;
    (*samples)["keyboard"] = keyboard;
    return true;
  }

  void set_kill_exe(const std::wstring& exe) { kill_exe_ = exe; }
  const testkbd::Keyboard& keyboard() const { return keyboard_; }

 private:
  double Us(int64_t ticks) const { return static_cast<double>(ticks) * 1e6 / static_cast<double>(frequency_); }

  // Waits for the notify event: one entry, a layer-mode call, in the log.
  bool WaitEntry(const char* what, std::string* error) {
    if (WaitForSingleObject(notify_, kArrivalMs) != WAIT_OBJECT_0) {
      *error = std::string("no layer-mode call after ") + what;
      return false;
    }
    return true;
  }

  // The mode calls of the log, each with its stamp; checks their modes.
  bool ModeStamps(const std::vector<int>& modes, std::vector<int64_t>* stamps, std::string* error) {
    testdriver::Log log;
    if (device_.ReadLog(&log) != ERROR_SUCCESS || log.dropped) {
      *error = "the driver's log cannot be read whole";
      return false;
    }
    stamps->clear();
    std::vector<int> seen;
    for (const testdriver::LogEntry& e : log.entries) {
      if (e.kind != KBDTEST_LOG_DEVICE_CONTROL || e.code != KBDFILTR_IOCTL_SET_LAYER_MODE) continue;
      seen.push_back(e.input.size() == 1 ? e.input[0] : -1);
      stamps->push_back(e.time);
    }
    if (seen != modes) {
      *error = "the driver got " + std::to_string(seen.size()) + " mode calls, not the " +
               std::to_string(modes.size()) + " expected in order";
      return false;
    }
    return true;
  }

  // `count` times: off(), then on(), each answered by a layer-mode call (0,
  // then 1). Measured: from start(clock before on()) to on()'s call.
  template <typename Off, typename On, typename Start>
  bool ModePath(int count, const char* what, Off off, On on, Start start, std::vector<double>* out,
                std::string* error) {
    device_.ClearLog();
    WaitForSingleObject(notify_, 0);
    std::vector<int64_t> starts;
    std::vector<int> modes;
    for (int i = 0; i < count; ++i) {
      if (!off() || !WaitEntry(what, error)) return false;
      const int64_t before = testdriver::DriverClock();
      if (!on() || !WaitEntry(what, error)) return false;
      starts.push_back(start(before));
      modes.push_back(0);
      modes.push_back(1);
    }
    std::vector<int64_t> stamps;
    if (!ModeStamps(modes, &stamps, error)) return false;
    for (int i = 0; i < count; ++i) out->push_back(Us(stamps[2 * i + 1] - starts[i]));
    return true;
  }

  // Release then press of the 0x76 key; from the driver's signal of the press.
  bool LayerPath(int count, std::vector<double>* out, std::string* error) {
    auto inject = [this](KbdTestTransition move) { return device_.Inject({move}) == ERROR_SUCCESS; };
    return ModePath(
        count, "the 0x76 key", [&] { return inject(testdriver::Break(tavlo::kLayerKeyScanCode)); },
        [&] { return inject(testdriver::Make(tavlo::kLayerKeyScanCode)); },
        // Read once the call is in, so as not to contend with it.
        [this](int64_t) {
          KbdTestState state{};
          return device_.QueryState(&state) == ERROR_SUCCESS ? state.LastSignalTime : 0;
        },
        out, error);
  }

  // The report of the layer key released, then held; from the push.
  bool KeyboardPath(int count, std::vector<double>* out, std::string* error) {
    return ModePath(
        count, "the layer key's report", [this] { return testkbd::PushLayerKeyTo(keyboard_, false) == 1; },
        [this] { return testkbd::PushLayerKeyTo(keyboard_, true) == 1; }, [](int64_t before) { return before; }, out,
        error);
  }

  // The G key, `count` times, with the layer on (the layer path left it on).
  // Another thread injects, so that this one is already waiting for the
  // character when it comes.
  // `out` gets the time until the key-down reaches this thread for the edit,
  // `shown_out` until the edit holds the character.
  bool KeyPath(int count, std::vector<double>* out, std::vector<double>* shown_out, std::string* error) {
    Injector injector(&device_);
    box_.Clear();
    for (int i = 0; i < count; ++i) {
      if (i % 200 == 0) box_.Clear();
      const int before = GetWindowTextLengthW(box_.edit());
      injector.Go();
      int64_t arrived = 0, shown = 0;
      const DWORD start = GetTickCount();
      for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          // Unicode input comes as a key-down of VK_PACKET, which
          // TranslateMessage turns into the edit's WM_CHAR.
          if (!arrived && msg.message == WM_KEYDOWN && msg.wParam == VK_PACKET && msg.hwnd == box_.edit())
            arrived = testdriver::DriverClock();
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
        if (GetWindowTextLengthW(box_.edit()) > before) {
          shown = testdriver::DriverClock();
          if (!arrived) arrived = shown;
          break;
        }
        if (GetTickCount() - start > kArrivalMs) {
          *error = "the character of the G key did not arrive";
          return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kArrivalMs, QS_ALLINPUT);
      }
      if (!injector.Done()) {
        *error = "the injection of the G key failed";
        return false;
      }
      KbdTestState state{};
      if (device_.QueryState(&state) != ERROR_SUCCESS) {
        *error = "the driver's state cannot be read";
        return false;
      }
      out->push_back(Us(arrived - state.LastSignalTime));
      shown_out->push_back(Us(shown - state.LastSignalTime));
    }
    return true;
  }

  // A thread that makes and breaks the G key at the driver on request.
  class Injector {
   public:
    explicit Injector(testdriver::TestDevice* device) : device_(device) {
      go_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
      done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
      thread_ = CreateThread(nullptr, 0, &Injector::Main, this, 0, nullptr);
    }
    ~Injector() {
      stop_ = true;
      SetEvent(go_);
      WaitForSingleObject(thread_, 10000);
      CloseHandle(thread_);
      CloseHandle(go_);
      CloseHandle(done_);
    }
    void Go() { SetEvent(go_); }
    bool Done() { return WaitForSingleObject(done_, kArrivalMs) == WAIT_OBJECT_0 && ok_; }

   private:
    static DWORD WINAPI Main(void* raw) {
      auto* self = static_cast<Injector*>(raw);
      const uint8_t scan = tavlo::LayerKeyMap[kSlot].ScanCode;
      for (;;) {
        WaitForSingleObject(self->go_, INFINITE);
        if (self->stop_) return 0;
        self->ok_ = self->device_->Inject({testdriver::Make(scan), testdriver::Break(scan)}) == ERROR_SUCCESS;
        SetEvent(self->done_);
      }
    }
    testdriver::TestDevice* device_;
    HANDLE go_, done_, thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ok_{false};
  };

  testdriver::ScopedDriver* driver_ = nullptr;
  testdriver::TestDevice device_;
  HANDLE notify_ = nullptr;
  testkbd::Session* keyboards_ = nullptr;
  testkbd::Keyboard keyboard_;
  e2e::EditBox box_;
  std::wstring kill_exe_;
  const int64_t frequency_ = testdriver::DriverClockFrequency();
};

// ---- where the time goes: the Linux scheduler's view ----
//
// Under Wine every Windows process is a Linux process, and procfs is on drive
// Z:. /proc/PID/task/TID/schedstat holds, per thread, the time it ran and the
// time it waited on a run queue (runnable, but another task had the CPU).

std::string ReadSmallFile(const std::wstring& path) {
  HANDLE f =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n) text.append(buffer, n);
  CloseHandle(f);
  return text;
}

std::vector<std::wstring> ListDirectory(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (data.cFileName[0] >= L'0' && data.cFileName[0] <= L'9') names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  if (tail.size() > s.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) !=
        std::tolower(static_cast<unsigned char>(tail[i])))
      return false;
  return true;
}

// Run and run-queue wait, in milliseconds, summed over the threads of the
// Linux processes of this Wine prefix, grouped by what their first argument
// names.
struct SchedSnapshot {
  std::map<std::string, std::pair<double, double>> by_group;  // group -> (run ms, wait ms)
};

std::string GroupOf(const std::string& argv0, const std::vector<std::pair<std::string, std::string>>& groups) {
  for (const auto& [tail, group] : groups)
    if (EndsWithNoCase(argv0, tail)) return group;
  return std::string();
}

SchedSnapshot TakeSchedSnapshot(const std::vector<std::pair<std::string, std::string>>& groups) {
  static const std::string prefix = [] {
    const char* p = std::getenv("WINEPREFIX");
    return std::string("WINEPREFIX=") + (p ? p : "");
  }();
  SchedSnapshot snapshot;
  for (const std::wstring& pid : ListDirectory(L"Z:\\proc")) {
    const std::wstring dir = L"Z:\\proc\\" + pid;
    const std::string cmdline = ReadSmallFile(dir + L"\\cmdline");
    const std::string group = GroupOf(cmdline.c_str(), groups);  // the first argument
    if (group.empty()) continue;
    const std::string env = ReadSmallFile(dir + L"\\environ");
    bool ours = false;
    for (size_t at = 0; at < env.size(); at += std::strlen(env.c_str() + at) + 1)
      if (prefix == env.c_str() + at) ours = true;
    if (!ours) continue;
    for (const std::wstring& tid : ListDirectory(dir + L"\\task")) {
      unsigned long long run = 0, wait = 0;
      if (std::sscanf(ReadSmallFile(dir + L"\\task\\" + tid + L"\\schedstat").c_str(), "%llu %llu", &run, &wait) != 2)
        continue;
      auto& [r, w] = snapshot.by_group[group];
      r += static_cast<double>(run) / 1e6;
      w += static_cast<double>(wait) / 1e6;
    }
  }
  return snapshot;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size())));
  return v[std::min(v.size(), std::max<size_t>(rank, 1)) - 1];
}

int Latency(int argc, char** argv) {
  int keys = 100, rounds = 5, warm_up = 10;
  const char* samples_path = nullptr;
  bool key_state = false;
  std::vector<Pair> pairs;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--keys" && i + 1 < argc)
      keys = std::atoi(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc)
      rounds = std::atoi(argv[++i]);
    else if (a == "--warm-up" && i + 1 < argc)
      warm_up = std::atoi(argv[++i]);
    else if (a == "--samples" && i + 1 < argc)
      samples_path = argv[++i];
    else if (a == "--key-state")
      key_state = true;
    else if (a == "--pair" && i + 3 < argc) {
      pairs.push_back({argv[i + 1], e2e::WindowsPath(argv[i + 2]), e2e::WindowsPath(argv[i + 3])});
      i += 3;
    } else {
      Print("error bad argument %s\n", a.c_str());
      return 2;
    }
  }
  if (pairs.empty() || keys < 1 || rounds < 1 || warm_up < 0) {
    Print("error no pair to measure\n");
    return 2;
  }
  std::vector<Contender> contenders;
  for (const Pair& p : pairs) {
    contenders.push_back({p.name, false, p.tavlo});
    contenders.push_back({p.name, true, p.bare});
    if (key_state) contenders.push_back({p.name, true, p.bare, true});
  }

  Bench bench;
  bench.set_kill_exe(pairs[0].tavlo);
  std::string error;
  if (!bench.SetUp(true, &error)) {
    Print("error %s\n", error.c_str());
    bench.TearDown();
    return 1;
  }
  // all[path][contender index] = samples after the warm-up, every round.
  std::map<std::string, std::vector<std::vector<double>>> all;
  // The processes whose scheduling each round is split into.
  const std::vector<std::pair<std::string, std::string>> groups = {{"Tavlo.exe", "contender"},
                                                                   {"tavlo_bare_client.exe", "contender"},
                                                                   {"wineserver64", "wineserver"},
                                                                   {"wineserver", "wineserver"},
                                                                   {"winedevice.exe", "winedevice"},
                                                                   {"tavlo_wine_bench.exe", "measurer"},
                                                                   {"Xvfb", "X-server"},
                                                                   {"explorer.exe", "explorer"}};
  // sched[contender index][group] = summed (run, wait) over its rounds.
  std::vector<std::map<std::string, std::pair<double, double>>> sched(contenders.size());
  std::vector<size_t> sched_samples(contenders.size());
  FILE* csv = samples_path ? std::fopen(samples_path, "w") : nullptr;
  if (csv) std::fprintf(csv, "path,name,contender,round,us\n");
  int failed = 0;
  for (int round = 0; round < rounds && !failed; ++round) {
    for (size_t c = 0; c < contenders.size() && !failed; ++c) {
      const Contender& who = contenders[c];
      e2e::TavloProcess process;
      std::map<std::string, std::vector<double>> samples;
      SchedSnapshot before, after;
      bool started = bench.Start(who, &process, &error);
      if (started) before = TakeSchedSnapshot(groups);
      if (!started || !bench.Round(warm_up + keys, who.key_state, &samples, &error)) {
        Print("error round %d, %s %s: %s\n", round + 1, who.name.c_str(), who.label(), error.c_str());
        failed = 1;
      } else {
        after = TakeSchedSnapshot(groups);
        for (auto& [group, times] : after.by_group) {
          auto& sum = sched[c][group];
          sum.first += times.first - before.by_group[group].first;
          sum.second += times.second - before.by_group[group].second;
        }
        for (auto& [path, values] : samples)
          if (path != "key-shown") sched_samples[c] += values.size();
      }
      if (!bench.Stop(who, &process) && !failed) {
        Print("error %s did not let go of the driver\n", who.name.c_str());
        failed = 1;
      }
      for (auto& [path, values] : samples) {
        auto& slot = all[path];
        slot.resize(contenders.size());
        for (size_t i = static_cast<size_t>(warm_up); i < values.size(); ++i) {
          slot[c].push_back(values[i]);
          if (csv)
            std::fprintf(csv, "%s,%s,%s,%d,%.1f\n", path.c_str(), who.name.c_str(), who.label(), round + 1, values[i]);
        }
      }
    }
  }
  if (csv) std::fclose(csv);
  bench.TearDown();
  if (failed) return 1;
  for (auto& [path, by_contender] : all) {
    for (size_t c = 0; c < contenders.size(); ++c) {
      const std::vector<double>& v = by_contender[c];
      if (v.empty()) continue;
      Print("result %s %s %s n=%zu p50_us=%.1f p99_us=%.1f max_us=%.1f\n", path.c_str(), contenders[c].name.c_str(),
            contenders[c].label(), v.size(), Percentile(v, 0.50), Percentile(v, 0.99), Percentile(v, 1.0));
    }
  }
  for (size_t c = 0; c < contenders.size(); ++c) {
    if (!sched_samples[c]) continue;
    const double n = static_cast<double>(sched_samples[c]);
    for (const auto& [group, times] : sched[c])
      Print("sched %s %s %s run_us=%.1f wait_us=%.1f\n", contenders[c].name.c_str(), contenders[c].label(),
            group.c_str(), times.first * 1000 / n, times.second * 1000 / n);
  }
  return 0;
}

int Idle(int argc, char** argv) {
  if (argc < 1) {
    Print("error idle needs TAVLO_EXE\n");
    return 2;
  }
  const Contender tavlo{"idle", false, e2e::WindowsPath(argv[0])};
  Bench bench;
  bench.set_kill_exe(tavlo.exe);
  std::string error;
  e2e::TavloProcess process;
  int result = 0;
  if (!bench.SetUp(false, &error) || !bench.Start(tavlo, &process, &error)) {
    Print("error %s\n", error.c_str());
    result = 1;
  } else {
    Sleep(1000);  // the reader's first read is under way
    Print("ready %lu\n", process.pid());
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) Print("note standard input closed\n");
    if (!process.Running()) {
      Print("error Tavlo.exe ended while idle\n");
      result = 1;
    }
  }
  bench.Stop(tavlo, &process);
  bench.TearDown();
  Print("done\n");
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "latency") == 0) return Latency(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "idle") == 0) return Idle(argc - 2, argv + 2);
  Print("usage: tavlo_wine_bench latency ... | idle TAVLO_EXE\n");
  return 2;
}
