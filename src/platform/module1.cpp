#include "platform/module1.h"

#include "platform/profile.h"

QString ReadIniString(const QString& section, const QString& key, const QString& file) {
    return Profile::readFile(file, section, key);
}

bool WriteIniString(const QString& section, const QString& key, const QString& value,
                    const QString& file) {
    return Profile::writeFile(file, section, key, value);
}
