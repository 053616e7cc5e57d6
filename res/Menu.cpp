#include "res/Menu.h"

#include "res/Resource.h"

std::vector<MenuPopup> LoadMenu(unsigned menuId) {
    if (menuId == IDR_CONTEXT_MENU) {
        return {{"Dummy",
                 {{ID_WEBBROWSER, "Webbrowser"},
                  {ID_TELNET, "Telnet"},
                  {ID_EDIT_COPY, "Copy IP to clipboard"},
                  {ID_LOCATE, "Locate"}}}};
    }
    return {};
}
