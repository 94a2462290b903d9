// Prints nothing; answers the OsIndex this process detects as its exit code.
#include "sysinfo/os_version.h"

int main() { return DetectOsIndex(); }
