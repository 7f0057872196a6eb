// Texts the tests expect, written out independently of the string table.
#pragma once

namespace kiv::test {

// IDS_ERR_OTHER + language index.
inline const char* const kOtherError[13] = {
    "Other error",  "その他のエラー", "Autre erreur", "Sonstiger Fehler", "Altro tipo di errore",
    "Otro error",   "Outros Erros",   "其他故障",     "기타 오류",        "其他故障",
    "Fout: overig", "Annat fel",      "Другая ошибка"};

}  // namespace kiv::test
