#include "res/Menu.h"

#include "res/Resource.h"
#include "res/Translation.h"

std::vector<MenuPopup> LoadMenu(unsigned menuId) {
    if (menuId == IDR_CONTEXT_MENU) {
        return {{"Dummy",
                 {{ID_WEBBROWSER, Translated("Menu", QT_TRANSLATE_NOOP("Menu", "Webbrowser"))},
                  {ID_TELNET, Translated("Menu", QT_TRANSLATE_NOOP("Menu", "Telnet"))},
                  {ID_EDIT_COPY, Translated("Menu", QT_TRANSLATE_NOOP("Menu", "Copy IP to clipboard"))},
                  {ID_LOCATE, Translated("Menu", QT_TRANSLATE_NOOP("Menu", "Locate"))}}}};
    }
    return {};
}
