#pragma once
// zelvik-cli: the headless front end. It sets the window model as an operator would set the
// window, presses start, shows the four panes on standard output and turns the operator's stop
// (see console.h) into the stop command, after which the program ends within about two seconds.

#include <string>
#include <vector>

namespace zelvik {

// The program itself, given its arguments in UTF-8 (the entry point of each system converts);
// its exit status.
int CliMain(const std::vector<std::string>& args);

}  // namespace zelvik
