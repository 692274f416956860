#include "target/ProgramLog.h"

#include <io.h>

bool PathWritable(const char* path) {
    return _access(path, 2) == 0;
}

std::FILE* OpenProgramLogFile(bool afresh) {
    // The Windows C library buffers "line-buffered" files fully: unbuffered is how a line gets
    // there before the next request.
    std::FILE* file = std::fopen(ProgramLogName, afresh ? "w" : "a");
    if (file != nullptr) {
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    return file;
}
