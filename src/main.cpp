#include "Log.h"

#include <cstdio>

int main()
{
    corvane::installMessageHandler();
    std::puts("Quillfern " QUILLFERN_VERSION ": the planning engine is built; the project window is not there yet.");
    return 0;
}
