#include "cli/Console.h"

#include <unistd.h>

bool InputIsConsole() {
    return isatty(STDIN_FILENO) != 0;
}

bool OutputRedraws(std::FILE* out) {
    return isatty(fileno(out)) != 0;
}
