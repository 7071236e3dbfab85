#include "domain/status_texts.h"

namespace zelk {

const StatusRow* FindStatus(int32_t code) {
    for (const StatusRow& r : kStatusTable)
        if (Code(r.code) == code) return &r;
    for (const StatusRow& r : kStatusTable)
        if (r.textSlot >= 0 && r.textSlot == code) return &r;
    return nullptr;
}

std::string StatusText(Status s, const std::string& detail) { return std::string(StatusText(s)) + " - " + detail; }

const char* StatusGloss(int32_t code) {
    const StatusRow* r = FindStatus(code);
    return r ? r->gloss : "";
}

}  // namespace zelk
