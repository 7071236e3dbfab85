#include "config/status_texts.h"

#include "config/text.h"

namespace zelk {

const char* const StatusTexts[kStatusTextCount] = {
    "V pořádku"_cp,
    "Chyba knihovny (nelze vytvořit datovou strukturu)"_cp,
    "Chyba knihovny (neplatný pointer)"_cp,
    "Chyba knihovny (neplatná data)"_cp,
    "Chybný parametrický soubor"_cp,
    "Kanál nepoužit"_cp,
    "Kanál nedefinován"_cp,
    "Chybná REAL hodnota kanálu"_cp,
    "Nelze vytvořit okno ovladače"_cp,
    "Nenalezen USB modul"_cp,
    "Chyba volání funkce knihovny FTDI "_cp,
    "Chyba otevření USB modulu"_cp,
    "Chyba USB modulu (restart)"_cp,
    "Chyba povelu"_cp,
    "Chyba synchronizace dat USB linky"_cp,
    "Timeout USB linky"_cp,
    "Chyba přístupu na disk"_cp,
    "Zadaný ZELK modul není ovladačem podporován"_cp,
};

std::string StatusText(uint8_t code) { return code < kStatusTextCount ? StatusTexts[code] : std::string(); }

std::string StatusText(uint8_t code, const std::string& detail) { return StatusText(code) + " - " + detail; }

}  // namespace zelk
