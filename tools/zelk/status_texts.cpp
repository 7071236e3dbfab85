#include "status_texts.h"

namespace zelk::tool {

const char* const kStatusTexts[kStatusCount] = {
    "V pořádku",
    "Chyba knihovny (nelze vytvořit datovou strukturu)",
    "Chyba knihovny (neplatný pointer)",
    "Chyba knihovny (neplatná data)",
    "Chybný parametrický soubor",
    "Kanál nepoužit",
    "Kanál nedefinován",
    "Chybná REAL hodnota kanálu",
    "Nelze vytvořit okno ovladače",
    "Nenalezen USB modul",
    "Chyba volání funkce knihovny FTDI ",
    "Chyba otevření USB modulu",
    "Chyba USB modulu (restart)",
    "Chyba povelu",
    "Chyba synchronizace dat USB linky",
    "Timeout USB linky",
    "Chyba přístupu na disk",
    "Zadaný ZELK modul není ovladačem podporován",
};

int StatusCodeOfText(const std::string& text) {
    // A channel's own statuses first: they share the texts of entries 5 and 6.
    if (text == kStatusTexts[5]) return 99;
    if (text == kStatusTexts[6]) return 100;
    if (text == "Nenalezen požadovaný USB modul.") return 5;
    for (int code = 0; code < kStatusCount; ++code) {
        std::string t = kStatusTexts[code];
        if (text == t || text.rfind(t + " - ", 0) == 0) return code;
    }
    return -1;
}

}  // namespace zelk::tool
