#pragma once
// The program's texts in the user's language. res/ links no Qt: the window program hands in the
// toolkit's translation at start, the command line none, so its texts stay the English sources.
#include <string>

// Marks a source text for Qt's lupdate, which finds the macro by its name; the text itself stays
// the English source that is looked up at run time.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

// Gives the translation of text in scope (a context of the translation files), or the text itself.
using TextTranslator = std::string (*)(const char* scope, const char* text);

// Set once, before a second thread exists; null takes every text as it is.
void SetTextTranslator(TextTranslator translator);
std::string Translated(const char* scope, const char* text);
// The same with every "%1" replaced by the argument, which is not searched itself.
std::string TranslatedWith(const char* scope, const char* text, const std::string& argument);
