#include "platform/win32.h"

#include <time.h>

extern "C" void Sleep(DWORD milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}
