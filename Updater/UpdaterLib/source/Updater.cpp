#include "Updater.h"

Updater::Updater(const std::string& serverURL, const std::string& updaterDirectory,
                 UpdaterDisplayInterface& display)
    : serverURL(serverURL), updaterDirectory(updaterDirectory), display(display) {}

Updater::~Updater() = default;
