#pragma once
// What the command line needs of the console it runs in; one implementation per platform.

#include <cstdio>

// True when standard input is an interactive console a question can be asked on.
bool InputIsConsole();

// True when out is a console that redraws a line in place (carriage return and the erase-line
// sequence). Where the console must be asked to understand that sequence, this asks it.
bool OutputRedraws(std::FILE* out);
