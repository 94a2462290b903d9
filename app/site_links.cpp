#include "app/site_links.h"

#define VORLANE_WIDEN2(x) L##x
#define VORLANE_WIDEN(x) VORLANE_WIDEN2(x)

const wchar_t kSiteUrl[] = VORLANE_WIDEN(VORLANE_SITE_URL);
const wchar_t kSupportUrl[] = VORLANE_WIDEN(VORLANE_SUPPORT_URL);
