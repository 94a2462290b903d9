#include "codepage.h"

#include "cp936_table.inc"

namespace vorlane {
namespace {

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string Cp936ToUtf8(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c == 0x80) {
            AppendUtf8(out, 0x20AC);  // the euro sign, the code page's one single-byte extra
            continue;
        }
        if (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) {
            unsigned char t = static_cast<unsigned char>(text[i + 1]);
            if (t >= 0x40 && t <= 0xFE) {
                unsigned short unit = kCp936[(c - 0x81) * 191 + (t - 0x40)];
                if (unit) {
                    AppendUtf8(out, unit);
                    ++i;
                    continue;
                }
            }
        }
        out += '?';
    }
    return out;
}

}  // namespace vorlane
