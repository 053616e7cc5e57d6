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

std::string TranslatedWith(const char* scope, const char* text, const std::string& argument) {
    std::string result = Translated(scope, text);
    for (size_t at = result.find("%1"); at != std::string::npos; at = result.find("%1", at + argument.size()))
        result.replace(at, 2, argument);
    return result;
}
