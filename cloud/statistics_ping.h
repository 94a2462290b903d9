// The statistics request made when a reinstall is ready: the hidden browser control loads the server's
// "/tongji.php" in the background; its answer is not used and nothing waits for it.
#pragma once
#include <string>

namespace DuiLib {
class CWebBrowserUI;
}

// The address requested: the server's base address followed by "/tongji.php".
std::wstring StatisticsUrl();

// Starts the request on the browser control ("webiedowned") and returns at once. Window thread.
void PingStatistics(DuiLib::CWebBrowserUI* browser);
