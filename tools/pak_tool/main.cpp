#include <iostream>
#include <string>
#include <vector>

#include "pak_commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return pakinspect::run(args, std::cout, std::cerr);
}
