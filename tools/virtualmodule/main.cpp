#include <signal.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "DiscoveryResponder.h"
#include "ModuleCore.h"
#include "ProgramOptions.h"
#include "TcpServer.h"

using namespace virtualmodule;

int main(int argc, char** argv) {
  ProgramOptions options;
  try {
    options = parseProgramOptions(argc, argv);
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "virtual-module: %s\n%s", error.what(), programUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(programUsage(), stdout);
    return 0;
  }

  // Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    ModuleCore core(options.primary);
    for (const auto& module : options.modules) core.addModule(module);
    core.setFaults(options.faults);

    std::ofstream log;
    if (!options.logPath.empty()) {
      log.open(options.logPath, std::ios::app);
      if (!log) throw std::runtime_error("cannot open log file " + options.logPath);
      core.setTrafficObserver([&log](const TrafficEntry& entry) { log << entry.format() << std::endl; });
    }

    TcpServer server(core, options.address, options.port);
    std::unique_ptr<DiscoveryResponder> responder;
    if (!options.discoveryInterface.empty()) {
      const std::string source = options.address == "0.0.0.0" ? options.discoveryInterface : options.address;
      responder = std::make_unique<DiscoveryResponder>(core, options.discoveryInterface, source, server.port());
    }
    std::printf("ready %s:%u\n", server.address().c_str(), unsigned(server.port()));
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    responder.reset();
    core.setTrafficObserver(nullptr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "virtual-module: %s\n", error.what());
    return 1;
  }
  return 0;
}
