#include "cloud/statistics_ping.h"

#include "cloud/server_address.h"
#include "ui/controls.h"

std::wstring StatisticsUrl() { return ServerUrl(kStatisticsPath); }

void PingStatistics(DuiLib::CWebBrowserUI* browser) {
  if (browser != nullptr) browser->Navigate(StatisticsUrl());
}
