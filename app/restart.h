// How the program restarts the machine: the system's restart command where it works; where the system has
// no shutdown tool (Windows 2000 ships none) or the command fails, the system's own reboot call.
#pragma once
#include <string>

class IRestartSystem {
 public:
  virtual ~IRestartSystem() = default;
  // Whether the system has its shutdown tool (shutdown.exe in the system folder).
  virtual bool HasShutdownTool() = 0;
  // Runs the restart command line hidden and waits a short while for it: true when it ran and ended with 0.
  virtual bool RunCommand(const std::string& commandLine) = 0;
  // Restarts through the system's call (ExitWindowsEx with the shutdown privilege); false when refused.
  virtual bool RebootCall() = 0;
};

enum class RestartWay { Command, SystemCall };

// Restarts the machine: the command when the tool is there and the command succeeds, else the call.
RestartWay RestartMachine(const std::string& commandLine, IRestartSystem& system);

// The real one.
class Win32RestartSystem : public IRestartSystem {
 public:
  bool HasShutdownTool() override;
  bool RunCommand(const std::string& commandLine) override;
  bool RebootCall() override;
};
