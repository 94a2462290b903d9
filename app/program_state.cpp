#include "app/program_state.h"

std::atomic<int32_t> DownloadPaused{0};
std::atomic<int32_t> DownloadStopRequested{0};
std::atomic<int32_t> DownloadDiscardPartial{0};
std::atomic<int32_t> CatalogueState{0};
