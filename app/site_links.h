// The maker's addresses that the title button and the contact option open (built in at configuration).
#pragma once

extern const wchar_t kSiteUrl[];     // btnguanwang
extern const wchar_t kSupportUrl[];  // optcontact
