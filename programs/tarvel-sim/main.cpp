// tarvel-sim: runs the service on the simulated machine, from a scenario file or the default one.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <sstream>

#include "programs/tarvel-sim/Scenario.h"
#include "programs/tarvel-sim/Simulator.h"

int main(int argc, char** argv) {
  CLI::App app{
      "Runs Tarvel Service on a simulated Windows machine and prints its debug lines "
      "and the machine's final state."};
  std::string path;
  bool showDefault = false;
  app.add_option("scenario", path, "Scenario file (default: the built-in scenario)");
  app.add_flag("--print-default", showDefault, "Print the built-in scenario and exit");
  CLI11_PARSE(app, argc, argv);

  if (showDefault) {
    std::cout << simulator::DefaultScenarioText();
    return 0;
  }
  std::string text(simulator::DefaultScenarioText());
  if (!path.empty()) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::cerr << "tarvel-sim: cannot read " << path << "\n";
      return 2;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
  }
  auto parsed = simulator::ParseScenario(text);
  if (auto* error = std::get_if<simulator::ScenarioError>(&parsed)) {
    std::cerr << (path.empty() ? "scenario" : path) << ":" << error->line << ": " << error->message
              << "\n";
    return 2;
  }
  simulator::RunOutcome outcome = simulator::RunScenario(std::get<simulator::Scenario>(parsed));
  simulator::PrintOutcome(outcome, std::cout);
  return outcome.exitCode == 0 ? 0 : 1;
}
