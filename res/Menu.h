#pragma once
// Menu resources: popups of plain command items, in the order they are shown.
#include <string>
#include <vector>

struct MenuItem {
    unsigned id;
    std::string text;
};

struct MenuPopup {
    std::string title;  // never shown for a context menu
    std::vector<MenuItem> items;
};

// The popups of the given menu resource; empty when there is no such menu.
std::vector<MenuPopup> LoadMenu(unsigned menuId);
