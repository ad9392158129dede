#include "app/module1.h"

#include "app/profile.h"

QString ReadIniString(const QString& section, const QString& key, const QString& file) {
    return Profile::readFile(file, section, key);
}

void WriteIniString(const QString& section, const QString& key, const QString& value,
                    const QString& file) {
    // A failed write is not reported: the caller carries on as if the value were stored.
    Profile::writeFile(file, section, key, value);
}
