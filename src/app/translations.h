// Sombrix in the user's language: its own texts (shipped inside the program) and Qt's (the
// standard buttons and dialogs, from the system's Qt translations), picked from the locale.
#pragma once

#include <QTranslator>

namespace sombrix {

class Translations {
public:
    // Needs the application object; installs whatever matches the system locale.
    Translations();
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

private:
    QTranslator own_;
    QTranslator qt_;
};

}  // namespace sombrix
