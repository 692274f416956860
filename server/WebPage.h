#pragma once
// GET / and the page's files, from the copies built into the program.

#include <httplib.h>

// After the API's routes: a path of one name that no route took is looked for among the files.
void AddPage(httplib::Server& server);
