// The simulated Windows machine.
#include "platform/sim/SimMachine.h"

namespace platform::sim {

SimMachine::SimMachine() {
  platform_.volumes = &volumes;
  platform_.threads = &threads;
  platform_.debug = &debug;
  platform_.registry = &registry;
  platform_.process = &process;
  platform_.files = &files;
  platform_.devices = &devices;
  platform_.crypto = &crypto;
  platform_.service = &service;
  platform_.windowing = &windowing;
}

SimMachine::~SimMachine() {
  threads.EndProcess();
  threads.JoinThreads();
  if (platform::Installed() == &platform_) platform::Install(nullptr);
}

void SimMachine::Install() {
  platform::Install(&platform_);
}

}  // namespace platform::sim
