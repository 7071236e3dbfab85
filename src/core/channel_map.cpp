#include "core/channel_map.h"

#include "config/status_texts.h"
#include "config/text.h"
#include "core/Pomocny.h"

namespace zelk {

bool IsDefinedChannel(uint32_t ch) {
    return ch <= 15 || ch == 50 || ch == 51 || ch == 58 || ch == 70 || ch == 78 || (ch >= 80 && ch <= 83) ||
           (ch >= 97 && ch <= 115) || (ch >= 132 && ch <= 147) || (ch >= 164 && ch <= 176) || (ch >= 200 && ch <= 203);
}

bool InInputClass(uint32_t ch) {
    return ch <= 15 || ch == 50 || ch == 51 || ch == 58 || ch == 80 || ch == 81 || (ch >= 97 && ch <= 99) ||
           (ch >= 200 && ch <= 203);
}

bool InOutputClass(uint32_t ch) {
    return ch == 70 || ch == 78 || ch == 82 || ch == 83 || (ch >= 100 && ch <= 115) || (ch >= 132 && ch <= 147) ||
           (ch >= 164 && ch <= 176) || ch == 200 || ch == 202;
}

std::string ChannelDescription(uint32_t ch) {
    auto n = [](uint32_t v) { return std::to_string(v); };
    if (ch <= 15) return "real input - analogový kanál "_cp + n(ch);
    if (ch == 50 || ch == 51) return "boolean input - digitální vstup "_cp + n(ch - 50);
    if (ch == 58) return "longcard input - digitální vstup"_cp;
    if (ch == 70) return "boolean output - digitální výstup"_cp;
    if (ch == 78) return "longcard output - digitální výstup"_cp;
    if (ch == 80 || ch == 81) return "longcard input - hodnota čítače "_cp + n(ch - 80);
    if (ch == 82 || ch == 83) return "longcard output - přednastavení čítače "_cp + n(ch - 82);
    if (ch == 97) return "boolean input - status zařízení"_cp;
    if (ch == 98) return "longcard input - status zařízení"_cp;
    if (ch == 99) return "string input - status zařízení"_cp;
    if (ch >= 100 && ch <= 115) return "longcard output - rozsah analogového kanálu "_cp + n(ch - 100);
    if (ch >= 132 && ch <= 147) return "longcard output - fyzický vstup analogového kanálu "_cp + n(ch - 132);
    switch (ch) {
        case 164: return "longcard output - počet kanálů měřených časovačem"_cp;
        case 165: return "real bidirectional - perioda měření časovačem [us]"_cp;
        case 166: return "longcard output - přednastavení čítače CNT0"_cp;
        case 167: return "longcard output - povolení snímání čítače CNT0"_cp;
        case 168: return "longcard output - přednastavení čítače CNT1"_cp;
        case 169: return "longcard output - povolení snímání čítače CNT1"_cp;
        case 170: return "longcard output - povolení snímání DIN a DOUT"_cp;
        case 200: return "longcard output - start/stop měření časovačem"_cp;
        case 201: return "longcard input - počet uložených záznamů"_cp;
        case 202: return "longcard output - zadaný počet záznamů"_cp;
        case 203: return "longcard input - status měření časovačem"_cp;
        default: break;
    }
    if (ch >= 171 && ch <= 176) return "longcard output - doba ustálení vstupu [us] - rozsah "_cp + std::string(RangeName(ch - 171));
    return "Kanál nedefinován"_cp;
}

ValueKind ChannelKind(uint32_t ch) {
    if (!IsDefinedChannel(ch)) return ValueKind::None;
    if (ch <= 15 || ch == 165) return ValueKind::Real;
    if (ch == 50 || ch == 51 || ch == 70 || ch == 97) return ValueKind::Boolean;
    if (ch == 99) return ValueKind::String;
    return ValueKind::Longcard;
}

}  // namespace zelk
