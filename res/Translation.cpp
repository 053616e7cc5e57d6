#include "res/Translation.h"

namespace {

TextTranslator g_translator = nullptr;

}  // namespace

void SetTextTranslator(TextTranslator translator) {
    g_translator = translator;
}

std::string Translated(const char* scope, const char* text) {
    return g_translator ? g_translator(scope, text) : std::string(text);
}
