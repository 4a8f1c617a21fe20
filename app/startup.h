// Program entry: process mode, single instance, servers, message loop.
#pragma once

namespace qb {

// Runs the program with its command line; returns the exit code.
int RunProgram(int argc, char** argv);

}  // namespace qb
