#include "cloud/cloud_state.h"

CloudState TheCloudState;

std::atomic<int32_t> DownloadPaused{0};
std::atomic<int32_t> DownloadStopRequested{0};
std::atomic<int32_t> DownloadDiscardPartial{0};
std::atomic<int32_t> CatalogueState{0};
