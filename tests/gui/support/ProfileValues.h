#pragma once
// One profile value read, or written and saved, on its own: a CProfileLoad or a CProfileSave
// for each, as a test checks the file after every single change.
#include "gui/framework/WinApp.h"

#include <string>

inline std::string GetProfileString(CWinApp& app, const char* section, const char* entry,
                                    const char* defaultValue) {
    return CProfileLoad(&app).GetString(section, entry, defaultValue);
}

inline int GetProfileInt(CWinApp& app, const char* section, const char* entry, int defaultValue) {
    return CProfileLoad(&app).GetInt(section, entry, defaultValue);
}

inline bool WriteProfileString(CWinApp& app, const char* section, const char* entry, const char* value) {
    CProfileSave save(app);
    return save.WriteString(section, entry, value) && save.Commit();
}

inline bool WriteProfileInt(CWinApp& app, const char* section, const char* entry, int value) {
    CProfileSave save(app);
    return save.WriteInt(section, entry, value) && save.Commit();
}
