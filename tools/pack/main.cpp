#include <iostream>
#include <string>
#include <vector>

#include "uPackCommands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunPack(args, std::cout, std::cerr);
}
