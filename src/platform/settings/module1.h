#pragma once

// Shared routines: one value of the settings (profile) file, and the start page stored
// there.

#include <QString>

// The stored value of `key` in `section` of `file`, at most 254 characters; the empty
// string when there is none. Never fails.
QString ReadIniString(const QString& section, const QString& key, const QString& file);

// Stores `value` under `key` in `section` of `file`; false when it could not be written
// (callers carry on as if it were stored). An existing file is never damaged.
bool WriteIniString(const QString& section, const QString& key, const QString& value,
                    const QString& file);

// The start page stored in the settings file `settingsFile`; empty when there is none.
QString storedStartPage(const QString& settingsFile);

// Stores `address` as the start page; false when the file could not be written.
bool storeStartPage(const QString& settingsFile, const QString& address);
